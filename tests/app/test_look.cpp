#include "WindowFixture.h"
#include "app/frmSummary.h"
#include "feedback/frmSuggest.h"
#include "options/frmOptions.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

double luminance(const QColor &colour)
{
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The colours a brush paints: its colour, or every stop of its gradient.
QList<QColor> coloursOf(const QBrush &brush)
{
    QList<QColor> colours;
    if (const QGradient *gradient = brush.gradient())
        for (const QGradientStop &stop : gradient->stops())
            colours.append(stop.second);
    else
        colours.append(brush.color());
    return colours;
}

// A dark desktop theme, as Adwaita-dark or Breeze Dark give Qt.
QPalette darkPalette()
{
    QPalette dark(QColor(0xee, 0xee, 0xec), QColor(0x35, 0x35, 0x35), QColor(0x50, 0x50, 0x50),
                  QColor(0x1e, 0x1e, 0x1e), QColor(0x2a, 0x2a, 0x2a), QColor(0xee, 0xee, 0xec),
                  QColor(0xff, 0xff, 0xff), QColor(0x2d, 0x2d, 0x2d), QColor(0x24, 0x24, 0x24));
    dark.setColor(QPalette::Highlight, QColor(0x15, 0x53, 0x9e));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    return dark;
}

struct RolePair
{
    QPalette::ColorRole text, background;
};

// What each kind of control draws its text with, and on.
QList<RolePair> rolesOf(const QWidget *widget)
{
    if (qobject_cast<const QHeaderView *>(widget))
        return {};
    if (qobject_cast<const QAbstractItemView *>(widget))
        return {{QPalette::Text, QPalette::Base}, {QPalette::HighlightedText, QPalette::Highlight}};
    if (qobject_cast<const QLineEdit *>(widget))
        return {{QPalette::Text, QPalette::Base}};
    if (const auto *list = qobject_cast<const QComboBox *>(widget))
        return {list->isEditable() ? RolePair{QPalette::Text, QPalette::Base}
                                   : RolePair{QPalette::ButtonText, QPalette::Button}};
    if (qobject_cast<const QLabel *>(widget) || widget->isWindow())
        return {{QPalette::WindowText, QPalette::Window}};
    return {};
}

// The controls of the window and its dialogs whose text and background are less than 4.5:1
// apart, each as "name: ratio".
QStringList lowContrast(const QWidget *window)
{
    QStringList low;
    QList<const QWidget *> widgets{window};
    for (const QWidget *child : window->findChildren<QWidget *>())
        if (child->isVisibleTo(window) || child->isWindow())
            widgets.append(child);
    for (const QWidget *widget : std::as_const(widgets)) {
        for (const RolePair &roles : rolesOf(widget)) {
            const QColor text = widget->palette().color(QPalette::Active, roles.text);
            for (const QColor &background :
                 coloursOf(widget->palette().brush(QPalette::Active, roles.background))) {
                const double ratio = contrast(text, background);
                if (ratio < 4.5)
                    low.append(QStringLiteral("%1 %2: %3 on %4, %5:1")
                                   .arg(QLatin1String(widget->metaObject()->className()),
                                        widget->objectName(), text.name(), background.name())
                                   .arg(ratio, 0, 'f', 2));
            }
        }
    }
    return low;
}

} // namespace

// What the shipped skin makes of the window under the desktop's theme and font: readable text
// and whole captions. Also run with Qt's scaling at 1.5 and 2.
class TestLook : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void contrast_data();
    void contrast();
    void captionsWhole_data();
    void captionsWhole();

private:
    WindowFixture m_fixture;
    QPalette m_palette;
    QFont m_font;
};

void TestLook::init()
{
    m_fixture.reset();
    // As a fresh start: the desktop's look, no skin yet.
    m_palette = QApplication::palette();
    m_font = QApplication::font();
    qApp->setStyleSheet(QString());
}

void TestLook::cleanup()
{
    qApp->setStyleSheet(QString());
    QApplication::setPalette(m_palette);
    QApplication::setFont(m_font);
}

void TestLook::contrast_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light desktop theme") << false;
    QTest::newRow("dark desktop theme") << true;
}

void TestLook::contrast()
{
    QFETCH(bool, dark);
    if (dark)
        QApplication::setPalette(darkPalette());
    auto w = m_fixture.load();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // Every dialog the window shows, open at once so that the skin has styled it.
    frmSummary summary({{QStringLiteral("/v/a.avi"), QStringLiteral("无法读取输入文件"), {}}}, {},
                       0, w.get());
    SettingsFiles::OptionsValues values;
    frmOptions options(values, m_fixture.path(QStringLiteral("options.ini")), &m_fixture.messages,
                       w.get());
    frmSuggest feedback(w.get());
    QMessageBox box(QMessageBox::Warning, QStringLiteral("转换"),
                    QStringLiteral("请先添加一个文件"), QMessageBox::Ok, w.get());
    for (QWidget *dialog : {static_cast<QWidget *>(&summary), static_cast<QWidget *>(&options),
                            static_cast<QWidget *>(&feedback), static_cast<QWidget *>(&box)}) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }
    w->cmbOF->showPopup();
    const QStringList low = lowContrast(w.get());
    w->cmbOF->hidePopup();
    QVERIFY2(low.isEmpty(), qPrintable(low.join(QLatin1Char('\n'))));
    if (dark) {
        QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR));
        QVERIFY(w->grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/main-dark-palette.png")));
    }
}

void TestLook::captionsWhole_data()
{
    QTest::addColumn<int>("points"); // the desktop's font size
    QTest::newRow("9 pt") << 9;
    QTest::newRow("10 pt") << 10;
    QTest::newRow("11 pt") << 11;
    QTest::newRow("12 pt") << 12;
}

// Every caption of the fixed layout, and every value of the parameter lists for every format,
// fits its control.
void TestLook::captionsWhole()
{
    QFETCH(int, points);
    QFont desktop = QApplication::font();
    desktop.setPointSize(points);
    QApplication::setFont(desktop);
    auto w = m_fixture.load();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QStringList cut;
    auto fits = [&cut](const QWidget *control, const QString &text, const QRect &room) {
        const QFontMetrics metrics = control->fontMetrics();
        if (metrics.horizontalAdvance(text) > room.width() || metrics.height() > room.height())
            cut.append(QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                           .arg(control->objectName(), text)
                           .arg(metrics.horizontalAdvance(text))
                           .arg(metrics.height())
                           .arg(room.width())
                           .arg(room.height()));
    };
    for (const QLabel *label : w->findChildren<QLabel *>())
        if (label->isVisibleTo(w.get()) && !label->text().isEmpty())
            fits(label, label->text(), label->contentsRect());
    for (QPushButton *button : w->findChildren<QPushButton *>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        QRect room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        if (!button->icon().isNull())
            room.setWidth(room.width() - button->iconSize().width() - 4);
        fits(button, button->text(), room);
    }
    for (const QToolButton *button : w->findChildren<QToolButton *>())
        if (button->sizeHint().width() > button->width() ||
            button->sizeHint().height() > button->height())
            cut.append(button->objectName());
    for (int format = 0; format < Formats::Count; ++format) {
        w->cmbOF->setCurrentIndex(format);
        for (QComboBox *list : {w->cmbVB, w->cmbF, w->cmbS, w->cmbR, w->cmbBR, w->cmbChannel})
            fits(list, list->currentText(), list->lineEdit()->contentsRect());
    }
    cut.removeDuplicates();
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    if (points == 11) {
        QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR));
        QVERIFY(w->grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/main-11pt-offscreen.png")));
    }
}

QTEST_MAIN(TestLook)
#include "test_look.moc"
