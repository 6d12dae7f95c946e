// The local files: settings.ini, maps.dat and servermessages.dat.

#include "app/list_box.h"
#include "app/main_form.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "storage/grid_file.h"
#include "storage/settings.h"

#include <QLineEdit>
#include <QScopeGuard>

void TMainForm::LoadSettings()
{
    const StoredSettings stored = ::LoadSettings(options_.settingsPath, DelaySpinEdit->Value());
    IPEdit->setText(ToDisplay(stored.ipAddress));
    PortEdit->setText(ToDisplay(stored.port));
    PasswordEdit->setText(ToDisplay(stored.password));
    DelaySpinEdit->SetValue(stored.delay);
    UsernameEdit->setText(ToDisplay(stored.chatName));
}

void TMainForm::SaveSettings()
{
    StoredSettings settings;
    settings.ipAddress = ToBytes(IPEdit->text());
    settings.port = ToBytes(PortEdit->text());
    settings.password = ToBytes(PasswordEdit->text());
    settings.delay = DelaySpinEdit->Value();
    settings.chatName = ToBytes(UsernameEdit->text());
    ::SaveSettings(options_.settingsPath, settings);
}

void TMainForm::LoadMapList()
{
    localMapFile_.Open(QStringLiteral("maps.dat"));
    QList<QByteArray> names;
    // What was read before a failure is still shown.
    const auto showNames = qScopeGuard([&] { LocalMapsListBox->Append(names); });
    while (!localMapFile_.AtEnd())
        names.append(localMapFile_.ReadLine());
}

void TMainForm::CloseMapFile()
{
    if (localMapFile_.IsOpen())
        localMapFile_.Close();
}

void TMainForm::SaveButtonClick()
{
    SaveStringGrid(*AnnounceStringGrid, QStringLiteral("servermessages.dat"));
}

void TMainForm::SaveStringGrid(const TStringGrid& grid, const QString& fileName)
{
    ::SaveStringGrid(grid, fileName);
}

void TMainForm::LoadStringGrid(TStringGrid& grid, const QString& fileName)
{
    ::LoadStringGrid(grid, fileName);
}
