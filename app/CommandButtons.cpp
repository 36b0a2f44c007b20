#include "app/CommandButtons.h"

#include "app/MainLayout.h"

#include <QIcon>
#include <QPushButton>
#include <QToolButton>

namespace {

struct ToolButton
{
    int index;
    const char *caption;
    const char *icon;
};

const ToolButton toolButtons[] = {
    {0, "添加文件", "add-file"}, {1, "添加文件夹", "add-folder"}, {2, "移除文件", "remove-file"},
    {4, "提示设置", "settings"}, {5, "退出程序", "exit"},
};

std::array<QToolButton *, 7> makeToolBar(QWidget *window, const std::function<void(int)> &clicked)
{
    std::array<QToolButton *, 7> buttons{};
    for (const ToolButton &entry : toolButtons) {
        auto *button = MainLayout::placed<QToolButton>(
            window, QStringLiteral("CmdToolsBar_%1").arg(entry.index));
        button->setText(QString::fromUtf8(entry.caption));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(entry.icon))));
        QObject::connect(button, &QToolButton::clicked, window,
                         [clicked, index = entry.index] { clicked(index); });
        buttons[entry.index] = button;
    }
    return buttons;
}

QPushButton *makeStartButton(QWidget *window)
{
    auto *button = MainLayout::placed<QPushButton>(window, QStringLiteral("Command3"),
                                                   QStringLiteral("立刻开始转换！"));
    QFont startFont(QStringLiteral("Tahoma"), 9);
    startFont.setBold(true);
    button->setFont(startFont);
    button->setIcon(QIcon(QStringLiteral(":/icons/start.svg")));
    button->setIconSize(QSize(32, 32));
    return button;
}

} // namespace

CommandButtons::CommandButtons(QWidget *window, Actions actions)
    : CmdToolsBar(makeToolBar(window, actions.toolBar)),
      cmdBrowse(MainLayout::placed<QPushButton>(window, QStringLiteral("cmdBrowse"),
                                                QStringLiteral("浏览"))),
      Command3(makeStartButton(window))
{
    cmdBrowse->setToolTip(QStringLiteral("Select an Output Folder"));
    QObject::connect(cmdBrowse, &QPushButton::clicked, window, actions.browse);
    QObject::connect(Command3, &QPushButton::clicked, window, actions.start);
}

void CommandButtons::setBatchRunning(bool running)
{
    for (QToolButton *button : CmdToolsBar)
        if (button)
            button->setEnabled(!running);
    Command3->setText(running ? QStringLiteral("停止转换") : QStringLiteral("立刻开始转换！"));
    Command3->setIcon(
        QIcon(running ? QStringLiteral(":/icons/stop.svg") : QStringLiteral(":/icons/start.svg")));
}
