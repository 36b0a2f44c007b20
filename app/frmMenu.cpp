#include "app/frmMenu.h"

#include <QMenu>

frmMenu::frmMenu(Callbacks callbacks) : QWidget(nullptr), m_callbacks(std::move(callbacks))
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
    m_callbacks.sendCommand(QStringLiteral("RemoveSelected"));
}

void frmMenu::menuRemoveAll_Click()
{
    m_callbacks.removeAll();
}
