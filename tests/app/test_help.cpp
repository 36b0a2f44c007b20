#include "convert/Formats.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

// The help's table of formats: one list of cell texts per row, the heading row left out.
QList<QStringList> formatTable(const QString &html)
{
    QList<QStringList> rows;
    const qsizetype start = html.indexOf(QLatin1String("<table id=\"formats\">"));
    const qsizetype end = html.indexOf(QLatin1String("</table>"), start);
    if (start < 0 || end < 0)
        return rows;
    static const QRegularExpression row(QStringLiteral("<tr>(.*?)</tr>"),
                                        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression cell(QStringLiteral("<td>(.*?)</td>"));
    const QString table = html.mid(start, end - start);
    for (auto rowMatch = row.globalMatch(table); rowMatch.hasNext();) {
        QStringList cells;
        for (auto cellMatch = cell.globalMatch(rowMatch.next().captured(1)); cellMatch.hasNext();)
            cells.append(cellMatch.next().captured(1));
        if (!cells.isEmpty())
            rows.append(cells);
    }
    return rows;
}

} // namespace

// The help document shipped beside the program says what the format list does.
class TestHelp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void formatRow_data();
    void formatRow();

private:
    QList<QStringList> m_rows;
};

void TestHelp::initTestCase()
{
    QFile help(QStringLiteral(VIDMORPH_APP_DIR "/help.html"));
    QVERIFY(help.open(QIODevice::ReadOnly));
    m_rows = formatTable(QString::fromUtf8(help.readAll()));
    QCOMPARE(m_rows.size(), Formats::Count);
}

void TestHelp::formatRow_data()
{
    QTest::addColumn<int>("format");
    for (int format = 0; format < Formats::Count; ++format)
        QTest::addRow("%s", qPrintable(Formats::shortName(format))) << format;
}

// Each row: the list's text, the file's extension, then whether each parameter list, in the
// window's order, reaches the format's command.
void TestHelp::formatRow()
{
    QFETCH(int, format);
    const QStringList cells = m_rows.at(format);
    QCOMPARE(cells.size(), 8);
    QCOMPARE(cells.at(0), Formats::itemText(format));
    QCOMPARE(cells.at(1), Formats::extension(format));
    const Formats::ParameterListId columns[] = {Formats::VideoBitrate, Formats::FrameRate,
                                                Formats::FrameSize,    Formats::SampleRate,
                                                Formats::AudioBitrate, Formats::Channel};
    for (int column = 0; column < 6; ++column) {
        const bool kept = Formats::readsList(format, columns[column], Formats::keepSourceSize());
        const bool sized = Formats::readsList(format, columns[column], QStringLiteral("640x480"));
        const QString expected = kept    ? QStringLiteral("✓")
                                 : sized ? QStringLiteral("选尺寸后")
                                         : QStringLiteral("—");
        QVERIFY2(cells.at(column + 2) == expected,
                 qPrintable(QStringLiteral("%1: %2, not %3")
                                .arg(Formats::parameterList(columns[column]).caption,
                                     cells.at(column + 2), expected)));
    }
}

QTEST_GUILESS_MAIN(TestHelp)
#include "test_help.moc"
