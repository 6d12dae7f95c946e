// The "Other" tab: the remote console and the demo recorder.

#include "admin/console_admin.h"
#include "app/main_form.h"
#include "app/text_codec.h"

#include <QLineEdit>

void TMainForm::CommandButtonClick()
{
    // What the administrator typed is the whole command line.
    SendCommand(ToBytes(CommandEdit->text()));
}

void TMainForm::RecordButtonClick()
{
    if (const auto record = console_admin::RecordDemo(ToBytes(DemoNameEdit->text())))
        Perform(*record);
    else
        Log(console_admin::DemoNameMissing);
}

void TMainForm::StopButtonClick()
{
    Perform(console_admin::StopRecording());
}
