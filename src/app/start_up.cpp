#include "app/start_up.h"

#include <QApplication>
#include <QIcon>

void prepareApplication(QApplication&)
{
    initRavelinResources();
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ravelin/ravelin.png")));
}

RavelinWindows::RavelinWindows(MainWindowOptions options)
    : mainWindow(std::move(options))
    , aboutWindow(mainWindow.dialogs())
{
    mainWindow.setAboutWindow(&aboutWindow);
}
