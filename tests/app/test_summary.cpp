#include "app/frmSummary.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <QTextLayout>

namespace {

const QString LongFailure = QStringLiteral(
    "无法读取输入文件（文件已损坏或不是视频、音频文件）：转换工具在读到第 123456 字节时停止，"
    "它说数据流在 00:12:34.56 处断开，后面的 9876 个数据包都无法解码，请检查文件是否下载完整");
const QString LongWarning = QStringLiteral(
    "输出只有 12.3 秒，输入文件标明有 456.7 秒：输出比输入短了很多，可能是输入文件没有下载完整，"
    "或者中间有损坏的部分被跳过了；请播放输出文件检查，最后的数字 98765.4 秒也要看得见");

// The height the text needs when it wraps in `width` pixels, as an item view wraps it.
int wrappedHeight(const QString &text, const QFont &font, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(text, font);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return qCeil(height);
}

} // namespace

// The dialog at the end of a batch with failed files or warnings.
class TestSummary : public QObject
{
    Q_OBJECT
private slots:
    void heading_data();
    void heading();
    void longReasonsAreShownWhole_data();
    void longReasonsAreShownWhole();
};

void TestSummary::heading_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<QString>("text");
    QTest::newRow("failures only") << 3 << 0 << "1 个文件转换成功，3 个文件转换失败：";
    QTest::newRow("warnings only") << 0 << 2 << "1 个文件转换成功，其中 2 个需要注意：";
    QTest::newRow("both") << 1 << 1 << "1 个文件转换成功（其中 1 个需要注意），1 个文件转换失败：";
}

void TestSummary::heading()
{
    QFETCH(int, failures);
    QFETCH(int, warnings);
    QFETCH(QString, text);
    QVector<BatchScheduler::Failure> failed(failures,
                                            {QStringLiteral("/v/a.avi"), LongFailure, {}});
    QVector<BatchScheduler::Warning> warned(
        warnings, {QStringLiteral("/v/b.avi"), QStringLiteral("/o/b.mp3"), LongWarning});
    frmSummary summary(failed, warned, 1);
    QCOMPARE(summary.lblResult->text(), text);
    QCOMPARE(summary.cmdRetry->isEnabled(), failures > 0);
}

void TestSummary::longReasonsAreShownWhole_data()
{
    QTest::addColumn<int>("width"); // of the dialog, after the user resized it; 0: as opened
    QTest::newRow("as opened") << 0;
    QTest::newRow("made narrower") << 460;
    QTest::newRow("made wider") << 900;
}

void TestSummary::longReasonsAreShownWhole()
{
    QFETCH(int, width);
    const QString lines = QStringLiteral("Error: cannot read input file\nffmpeg: 12 errors");
    frmSummary summary(
        {{QStringLiteral("/v/broken clip.avi"), LongFailure, lines}},
        {{QStringLiteral("/v/download.mp4"), QStringLiteral("/o/download.mp3"), LongWarning}}, 1);
    summary.show();
    QVERIFY(QTest::qWaitForWindowExposed(&summary));
    if (width > 0)
        summary.resize(width, summary.height());
    QTableWidget *list = summary.lstFailed;
    QTRY_COMPARE(list->width(), summary.width() - 2 * summary.layout()->contentsMargins().left());
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const int column = list->horizontalHeader()->sectionSize(1);
    const QStringList texts{LongFailure, QStringLiteral("已转换，但需要注意：") + LongWarning};
    QCOMPARE(list->rowCount(), texts.size());
    for (int row = 0; row < texts.size(); ++row) {
        QTableWidgetItem *item = list->item(row, 1);
        QCOMPARE(item->text(), texts.at(row));
        QVERIFY2(item->toolTip().startsWith(texts.at(row)), qPrintable(item->toolTip()));
        const int needed = wrappedHeight(texts.at(row), list->font(), column - 2 * margin);
        QTRY_VERIFY2(list->visualItemRect(item).height() >= needed,
                     qPrintable(QStringLiteral("row %1: %2 < %3 pixels")
                                    .arg(row)
                                    .arg(list->visualItemRect(item).height())
                                    .arg(needed)));
    }
    if (width == 0) {
        QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR));
        QVERIFY(summary.grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/summary-long.png")));
    }
    // What the text rests on follows it in the tool tip.
    QVERIFY(list->item(0, 1)->toolTip().endsWith(lines));
    QVERIFY(list->item(1, 1)->toolTip().endsWith(QStringLiteral("/o/download.mp3")));
}

QTEST_MAIN(TestSummary)
#include "test_summary.moc"
