// Start-up as the program does it, up to the main window exposed and painted;
// then prints how long that took since the process started and how much memory
// the process holds, and exits. scripts/bench runs it many times.

#include "app/start_up.h"
#include "startup_measure.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    prepareApplication(application);
    RavelinWindows windows;
    return showAndMeasure(windows.mainWindow);
}
