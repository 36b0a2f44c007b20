#include "app/WindowChrome.h"

#include "app/MainLayout.h"
#include "dialogs/SurfaceDrag.h"

#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QShortcut>
#include <QWidget>

namespace {

const char *const LitProperty = "lit";

struct CornerPicture
{
    const char *name;
    const char *unlit;
    const char *lit;
    QSize size;
};

// The lit pictures keep the sizes the window was designed with; the unlit ones match them.
const CornerPicture cornerPictures[] = {
    {"imgHelp", ":/icons/help.svg", ":/icons/help-light.svg", QSize(12, 17)},
    {"imgMin", ":/icons/min.svg", ":/icons/min-light.svg", QSize(14, 14)},
    {"imgExit", ":/icons/exit-corner.svg", ":/icons/exit-light.svg", QSize(14, 13)},
};

const CornerPicture *pictureOf(const QLabel *button)
{
    for (const CornerPicture &picture : cornerPictures)
        if (button->objectName() == QLatin1String(picture.name))
            return &picture;
    return nullptr;
}

QLabel *makeLink(QWidget *window, const QString &name, const QString &text, const QString &toolTip)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(name);
    label->setGeometry(MainLayout::place(name));
    label->setToolTip(toolTip);
    label->setCursor(Qt::PointingHandCursor);
    label->setMouseTracking(true);
    return label;
}

} // namespace

WindowChrome::WindowChrome(QWidget *window, Actions actions)
    : QObject(window), imgHelp(makeLink(window, QStringLiteral("imgHelp"), QString(),
                                        QStringLiteral("Help & Tutorial"))),
      imgMin(
          makeLink(window, QStringLiteral("imgMin"), QString(), QStringLiteral("Minimize Window"))),
      imgExit(makeLink(window, QStringLiteral("imgExit"), QString(), QStringLiteral("Exit"))),
      lblFeed(makeLink(window, QStringLiteral("lblFeed"), QStringLiteral("意见反馈"),
                       QStringLiteral("Send us your suggestion or question"))),
      lblWeb(makeLink(window, QStringLiteral("lblWeb"), QString(), QString())), m_window(window),
      m_actions(std::move(actions))
{
    for (QLabel *label : {imgHelp, imgMin, imgExit, lblFeed, lblWeb})
        label->installEventFilter(this);
    for (QLabel *button : {imgHelp, imgMin, imgExit}) {
        // The pictures are a pixel or two off their places' size; centred they line up.
        button->setAlignment(Qt::AlignCenter);
        putOut(button);
    }
    // The keyboard's way to the help, as desktop programs have it.
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), window);
    help->setObjectName(QStringLiteral("helpShortcut"));
    connect(help, &QShortcut::activated, this, [this] { m_actions.help(); });
}

void WindowChrome::light(QLabel *button)
{
    if (const CornerPicture *picture = pictureOf(button)) {
        button->setPixmap(QIcon(QLatin1String(picture->lit)).pixmap(picture->size));
        button->setProperty(LitProperty, true);
    }
}

void WindowChrome::putOut(QLabel *button)
{
    if (const CornerPicture *picture = pictureOf(button)) {
        button->setPixmap(QIcon(QLatin1String(picture->unlit)).pixmap(picture->size));
        button->setProperty(LitProperty, false);
    }
}

bool WindowChrome::isLit(const QLabel *button) const
{
    return button->property(LitProperty).toBool();
}

bool WindowChrome::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        for (QLabel *button : {imgHelp, imgMin, imgExit}) {
            if (watched == button) {
                light(button);
                return true;
            }
        }
        if (watched == lblFeed) {
            if (lblFeed->isEnabled())
                setFeedbackBold(true);
            return true;
        }
    }
    if (watched == lblFeed && event->type() == QEvent::EnabledChange)
        feedbackEnabledChanged();
    if (clicked(watched, event))
        return true;
    return QObject::eventFilter(watched, event);
}

bool WindowChrome::clicked(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    auto *mouse = static_cast<QMouseEvent *>(event);
    auto *control = qobject_cast<QWidget *>(watched);
    if (mouse->button() != Qt::LeftButton || !control ||
        !control->rect().contains(mouse->position().toPoint()))
        return false;
    if (watched == imgHelp) {
        m_actions.help();
    } else if (watched == imgMin) {
        m_actions.minimise();
    } else if (watched == imgExit) {
        m_actions.exit();
    } else if (watched == lblFeed) {
        if (lblFeed->isEnabled())
            m_actions.feedback();
    } else if (watched == lblWeb) {
        m_actions.web();
    } else {
        return false;
    }
    return true;
}

void WindowChrome::setFeedbackBold(bool bold)
{
    QFont font = lblFeed->font();
    font.setBold(bold);
    lblFeed->setFont(font);
}

void WindowChrome::feedbackEnabledChanged()
{
    const bool enabled = lblFeed->isEnabled();
    if (!enabled)
        setFeedbackBold(false);
    lblFeed->setCursor(enabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void WindowChrome::Form_MouseMove()
{
    setFeedbackBold(false);
    putOut(imgHelp);
    putOut(imgExit);
    putOut(imgMin);
}

void WindowChrome::bringToFront()
{
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void WindowChrome::surfaceMoved(QMouseEvent *event)
{
    // Moves over labels reach the window too; only its own surface puts the lights out.
    if (!m_window->childAt(event->position().toPoint()))
        Form_MouseMove();
}

void WindowChrome::surfacePressed(QMouseEvent *event)
{
    // Only the window's own surface moves it; a press on any control is the control's.
    if (SurfaceDrag::isSurfacePress(m_window, event))
        SurfaceDrag::start(m_window);
}
