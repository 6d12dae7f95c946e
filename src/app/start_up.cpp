#include "app/start_up.h"

#include "app/accessibility.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

namespace {

// Whether the style Qt has picked was asked for. Qt does not say publicly
// which platform theme named a style; but where none does (the generic
// theme, a bare X server, offscreen) Qt falls back to Fusion, so any other
// style is the desktop's choice, such as Breeze under KDE or a qt6ct setting.
bool styleWasAskedFor(bool onCommandLine)
{
    if (onCommandLine || !qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE"))
        return true;
    return QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0;
}

} // namespace

void prepareApplication(QApplication&, bool styleChosen)
{
    initRavelinResources();
    installAccessibility();
    if (!styleWasAskedFor(styleChosen))
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
