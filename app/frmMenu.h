#pragma once

#include <QWidget>
#include <functional>

class QMenu;
class QAction;

// A window that is never shown; it holds the "Remove" popup menu. Remove selected is sent to
// the main window as a command word through its command box; remove all it does itself. It
// knows the main window only through these two calls.
class frmMenu : public QWidget
{
    Q_OBJECT
public:
    struct Callbacks
    {
        std::function<void(const QString &word)> sendCommand; // into the command box
        std::function<void()> removeAll; // empties the file list and shows the hint
    };

    explicit frmMenu(Callbacks callbacks);

    QMenu *menuRemove = nullptr;
    QAction *menuRemoveSelected = nullptr;
    QAction *menuRemoveAll = nullptr;

public slots:
    void menuRemoveSelected_Click();
    void menuRemoveAll_Click();

private:
    Callbacks m_callbacks;
};
