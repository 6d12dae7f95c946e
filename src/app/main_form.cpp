#include "app/main_form.h"

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Ravelin"));
}
