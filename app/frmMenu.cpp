#include "app/frmMenu.h"

#include "app/frmMain.h"

#include <QLineEdit>
#include <QMenu>

frmMenu::frmMenu(frmMain *main) : QWidget(nullptr), m_main(main)
{
    setObjectName(QStringLiteral("frmMenu"));
    menuRemove = new QMenu(QStringLiteral("Remove"), this);
    menuRemove->setObjectName(QStringLiteral("menuRemove"));
    menuRemoveSelected = menuRemove->addAction(QStringLiteral("移除选择项"));
    menuRemoveSelected->setObjectName(QStringLiteral("menuRemoveSelected"));
    menuRemoveAll = menuRemove->addAction(QStringLiteral("移除全部"));
    menuRemoveAll->setObjectName(QStringLiteral("menuRemoveAll"));
    connect(menuRemoveSelected, &QAction::triggered, this, &frmMenu::menuRemoveSelected_Click);
    connect(menuRemoveAll, &QAction::triggered, this, &frmMenu::menuRemoveAll_Click);
}

void frmMenu::menuRemoveSelected_Click()
{
    m_main->txtAction->setText(QStringLiteral("RemoveSelected"));
}

void frmMenu::menuRemoveAll_Click()
{
    m_main->files()->clear();
    m_main->picText->show();
}
