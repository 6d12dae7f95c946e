#pragma once

// Start-up, shared by the program and the start-up benchmark: the look of the
// application, then the main window (its controls, then FormCreate) and the
// About window, hidden.

#include "app/about_form.h"
#include "app/main_form.h"

class QApplication;

// The style, the pictures and the icon of the application.
void PrepareApplication(QApplication& application);

struct RavelinWindows
{
    RavelinWindows();
    TMainForm mainForm;
    TAboutForm aboutForm;
};
