#pragma once

// Start-up, shared by the program and the start-up benchmark: the look of the
// application, then the main window (its controls, then its files); the About
// window is made the first time it is asked for.

#include "app/about_window.h"
#include "app/main_window.h"

class QApplication;

// The style, the pictures, the icon and the accessibility of the
// application. The designed "Windows" style is only the default: a style
// chosen by -style (`styleChosen`), by QT_STYLE_OVERRIDE or by the desktop's
// theme is kept.
void prepareApplication(QApplication& application, bool styleChosen = false);

struct RavelinWindows
{
    explicit RavelinWindows(MainWindowOptions options = {});
    MainWindow mainWindow;
    // Made when first asked for, then kept: its picture need not slow the start.
    std::unique_ptr<AboutWindow> aboutWindow;
};
