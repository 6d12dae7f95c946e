// Start-up: the application, the main window (its controls, then FormCreate),
// the About window, hidden, and the event loop until the main window closes.

#include "app/about_form.h"
#include "app/main_form.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InitRavelinResources();
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ravelin/ravelin.png")));

    TMainForm mainForm;
    TAboutForm aboutForm;
    mainForm.AboutForm = &aboutForm;

    mainForm.show();
    return application.exec();
}
