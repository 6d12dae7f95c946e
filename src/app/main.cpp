// Start-up: the application, the main window (its controls, then FormCreate),
// the About window, hidden, and the event loop until the main window closes.

#include "app/start_up.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    PrepareApplication(application);
    RavelinWindows windows;
    windows.mainForm.show();
    return application.exec();
}
