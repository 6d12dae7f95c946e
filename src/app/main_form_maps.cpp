// The "Map Rotation" tab.

#include "admin/map_admin.h"
#include "app/list_box.h"
#include "app/main_form.h"
#include "app/text_codec.h"

#include <QPushButton>

namespace {

// The selected entry of `list`, or nothing after logging the refusal.
std::optional<QByteArray> SelectedMapLine(TMainForm& form, const TListBox& list)
{
    const int index = list.ItemIndex();
    if (index < 0) {
        form.Log(map_admin::NoMapSelected);
        return std::nullopt;
    }
    return list.Items()[index];
}

} // namespace

void TMainForm::RefreshMapList()
{
    SendCommand(map_admin::RefreshCommand);
}

void TMainForm::RefreshMapsButtonClick()
{
    RefreshMapList();
}

void TMainForm::Button2Click()
{
    const auto mapName = SelectedMapLine(*this, *LocalMapsListBox);
    if (!mapName)
        return;
    Perform(map_admin::Append(*mapName));
}

void TMainForm::Button3Click()
{
    const auto line = SelectedMapLine(*this, *MapsListBox);
    if (!line)
        return;
    Perform(map_admin::Remove(map_admin::MapNumberOf(*line)));
}

void TMainForm::SaveMapsButtonClick()
{
    Perform(map_admin::Save());
}

void TMainForm::RunNextMapButtonClick()
{
    Perform(map_admin::RunNextMap());
}

void TMainForm::RestartMapButtonClick()
{
    Perform(map_admin::RestartMap());
}

void TMainForm::PauseButtonClick()
{
    const map_admin::PauseToggle toggle = map_admin::TogglePause(ToBytes(PauseButton->text()));
    SendCommand(toggle.command);
    PauseButton->setText(ToDisplay(toggle.caption));
    Log(toggle.logLine);
}
