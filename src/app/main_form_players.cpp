// The "Player List" tab.

#include "admin/player_admin.h"
#include "app/list_box.h"
#include "app/main_form.h"

namespace {

// The id of the selected player, or nothing after logging the refusal.
std::optional<QByteArray> SelectedPlayerId(TMainForm& form)
{
    const int index = form.PlayersListBox->ItemIndex();
    std::optional<QByteArray> id;
    if (index >= 0)
        id = player_admin::PlayerIdOf(form.PlayersListBox->Items()[index]);
    if (!id)
        form.Log(player_admin::NoPlayerSelected);
    return id;
}

// A ban takes the line out of the list before it is logged.
void BanSelectedPlayer(TMainForm& form, AdminAction (*ban)(const QByteArray& id))
{
    const auto id = SelectedPlayerId(form);
    if (!id)
        return;
    const AdminAction action = ban(*id);
    form.SendCommand(action.command);
    form.PlayersListBox->Delete(form.PlayersListBox->ItemIndex());
    form.Log(action.logLine);
}

} // namespace

void TMainForm::RefreshPlayerList()
{
    SendCommand(player_admin::RefreshCommand);
}

void TMainForm::RefreshPlayersButtonClick()
{
    RefreshPlayerList();
}

void TMainForm::KickButtonClick()
{
    const auto id = SelectedPlayerId(*this);
    if (!id)
        return;
    Perform(player_admin::Kick(*id));
    PlayersListBox->Delete(PlayersListBox->ItemIndex());
}

void TMainForm::TempBanButtonClick()
{
    BanSelectedPlayer(*this, player_admin::BanForRound);
}

void TMainForm::BanButtonClick()
{
    BanSelectedPlayer(*this, player_admin::BanPermanently);
}
