#include "app/WindowChrome.h"

#include "app/MainLayout.h"
#include "dialogs/SurfaceDrag.h"

#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>

namespace {

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
}

bool WindowChrome::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == imgHelp) {
            imgHelp->setPixmap(QIcon(QStringLiteral(":/icons/help-light.svg")).pixmap(12, 17));
            return true;
        }
        if (watched == imgMin) {
            imgMin->setPixmap(QIcon(QStringLiteral(":/icons/min-light.svg")).pixmap(14, 14));
            return true;
        }
        if (watched == imgExit) {
            imgExit->setPixmap(QIcon(QStringLiteral(":/icons/exit-light.svg")).pixmap(14, 13));
            return true;
        }
        if (watched == lblFeed) {
            QFont bold = lblFeed->font();
            bold.setBold(true);
            lblFeed->setFont(bold);
            return true;
        }
    }
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

void WindowChrome::Form_MouseMove()
{
    QFont regular = lblFeed->font();
    regular.setBold(false);
    lblFeed->setFont(regular);
    imgHelp->clear();
    imgExit->clear();
    imgMin->clear();
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
