// The "Server Announcements" tab: admin messages and the announcer.

#include "admin/announce_admin.h"
#include "app/main_form.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

void TMainForm::Button1Click()
{
    const auto message = announce_admin::AdminMessage(MECCheckBox->isChecked(), USMCCheckBox->isChecked(),
                                                      ToBytes(UsernameEdit->text()), ToBytes(MessageEdit->text()));
    if (message)
        Perform(*message);
}

void TMainForm::AnnounceTimerTimer()
{
    if (!ClientSocket1->Active() || !AutoAnnounceCheckBox->isChecked())
        return;
    ConsoleState& state = SessionState();
    const announce_admin::AnnounceStep step = announce_admin::StepAnnounceRow(state.announceRowIndex,
                                                                              AnnounceStringGrid->RowCount());
    SendCommand(announce_admin::AnnounceCommand(announce_admin::RowMessage(AnnounceStringGrid->Row(step.row))));
    state.announceRowIndex = step.nextIndex;
}

void TMainForm::DelaySpinEditChange()
{
    const int period = DelaySpinEdit->Value() * 1000;
    // Setting the same period again would restart the countdown.
    if (AnnounceTimer->interval() != period)
        AnnounceTimer->setInterval(period);
}

void TMainForm::AddLineButtonClick()
{
    AnnounceStringGrid->SetRowCount(AnnounceStringGrid->RowCount() + 1);
}

void TMainForm::RemoveLineButtonClick()
{
    AnnounceStringGrid->SetRowCount(std::max(AnnounceStringGrid->RowCount() - 1, 1));
}
