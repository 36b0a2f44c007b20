#pragma once

#include <QWidget>

class QMenu;
class QAction;
class frmMain;

// A window that is never shown; it holds the "Remove" popup menu. Remove selected is sent to
// the main window as a command word through its command box; remove all it does itself.
class frmMenu : public QWidget
{
    Q_OBJECT
public:
    explicit frmMenu(frmMain *main);

    QMenu *menuRemove = nullptr;
    QAction *menuRemoveSelected = nullptr;
    QAction *menuRemoveAll = nullptr;

public slots:
    void menuRemoveSelected_Click();
    void menuRemoveAll_Click();

private:
    frmMain *m_main;
};
