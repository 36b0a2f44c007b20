#pragma once

#include <array>
#include <functional>

class QPushButton;
class QToolButton;
class QWidget;

// The window's buttons: the command row along the top (CmdToolsBar, elements 3 and 6 do not
// exist), the browse button and the start button, which reads "stop" while a batch runs.
class CommandButtons
{
public:
    struct Actions
    {
        std::function<void(int index)> toolBar; // a top-row button, by its element
        std::function<void()> browse, start;
    };

    // Makes the buttons on the window.
    CommandButtons(QWidget *window, Actions actions);

    const std::array<QToolButton *, 7> CmdToolsBar;
    QPushButton *const cmdBrowse;
    QPushButton *const Command3;

    // During a batch the command row is locked and the start button stops the batch.
    void setBatchRunning(bool running);
};
