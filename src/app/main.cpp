// Start-up: the application, the main window (its controls, then its files),
// the About window, hidden, and the event loop until the main window closes.

#include "app/start_up.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    prepareApplication(application);
    RavelinWindows windows;
    windows.mainWindow.show();
    return application.exec();
}
