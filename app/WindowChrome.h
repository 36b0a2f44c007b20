#pragma once

#include <QObject>
#include <functional>

class QLabel;
class QMouseEvent;
class QWidget;

// The window's own chrome: the help, minimise and exit pictures in its corner, which light up
// under the pointer and go out when it moves over the free surface (an unlit button shows a
// quieter picture, so the user sees it is there); the feedback link, which turns bold; the web
// link; F1 for help; and moving the window by its free surface.
class WindowChrome : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<void()> help, minimise, exit, feedback, web;
    };

    // Makes the corner pictures and the two links on the window.
    WindowChrome(QWidget *window, Actions actions);

    QLabel *const imgHelp;
    QLabel *const imgMin;
    QLabel *const imgExit;
    QLabel *const lblFeed;
    QLabel *const lblWeb;

    // Puts every light out, as a move over the window's free surface does.
    void Form_MouseMove();
    // One corner button's light: on as under the pointer, or out.
    void light(QLabel *button);
    void putOut(QLabel *button);
    bool isLit(const QLabel *button) const;
    // Back from the task bar and in front, as when the user picks it there.
    void bringToFront();
    // The window's own mouse events: moves over its surface put the lights out; a press on
    // it moves the window.
    void surfaceMoved(QMouseEvent *event);
    void surfacePressed(QMouseEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool clicked(QObject *watched, QEvent *event);
    void setFeedbackBold(bool bold);
    // The feedback link follows the batch: a disabled link neither lights up nor offers a hand.
    void feedbackEnabledChanged();

    QWidget *m_window;
    Actions m_actions;
};
