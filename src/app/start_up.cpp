#include "app/start_up.h"

#include <QApplication>
#include <QIcon>

void PrepareApplication(QApplication&)
{
    InitRavelinResources();
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ravelin/ravelin.png")));
}

RavelinWindows::RavelinWindows()
{
    mainForm.AboutForm = &aboutForm;
}
