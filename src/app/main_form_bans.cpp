// The "Ban List" tab.

#include "admin/ban_admin.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_form.h"
#include "app/text_codec.h"

void TMainForm::RefreshBanList()
{
    SendCommand(ban_admin::RefreshCommand);
}

void TMainForm::RefeshBansButtonClick()
{
    RefreshBanList();
}

void TMainForm::AddHashBanButtonClick()
{
    const auto entry = options_.dialogs->InputQuery(this, QLatin1String(ban_admin::AddKeyBoxTitle),
                                                    QLatin1String(ban_admin::AddKeyBoxPrompt),
                                                    ban_admin::AddKeyBoxMaxLength);
    if (!entry)
        return;
    Perform(ban_admin::AddKey(ToBytes(*entry)));
}

void TMainForm::RemoveBanButtonClick()
{
    const int index = BansListBox->ItemIndex();
    const auto key = index >= 0 ? ban_admin::BanKeyOf(BansListBox->Items()[index]) : std::nullopt;
    if (!key) {
        // Nothing would be sent, so nothing is claimed and the line stays.
        Log(ban_admin::NoKeySelected);
        return;
    }
    const AdminAction remove = ban_admin::RemoveKey(*key);
    SendCommand(remove.command);
    BansListBox->Delete(index);
    Log(remove.logLine);
}

void TMainForm::ClearBanListButtonClick()
{
    if (!options_.dialogs->AskYesNo(this, QLatin1String(ban_admin::ClearBoxCaption),
                                    QLatin1String(ban_admin::ClearBoxText)))
        return;
    const AdminAction clear = ban_admin::ClearAll();
    BansListBox->Clear();
    SendCommand(clear.command);
    Log(clear.logLine);
}
