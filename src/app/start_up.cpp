#include "app/start_up.h"

#include "app/accessibility.h"

#include <QApplication>
#include <QIcon>

void prepareApplication(QApplication&)
{
    initRavelinResources();
    installAccessibility();
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ravelin/ravelin.png")));
}

RavelinWindows::RavelinWindows(MainWindowOptions options)
    : mainWindow(std::move(options))
{
    mainWindow.setAboutWindow([this]() -> AboutWindow& {
        if (!aboutWindow)
            aboutWindow = std::make_unique<AboutWindow>(mainWindow.dialogs());
        return *aboutWindow;
    });
}
