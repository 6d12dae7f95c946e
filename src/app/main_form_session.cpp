// The session's handlers: connect, disconnect, and the socket's events.

#include "app/list_box.h"
#include "app/main_form.h"
#include "app/text_codec.h"

#include <QLabel>
#include <QLineEdit>

void TMainForm::SendCommand(const QByteArray& command)
{
    session_->SendCommand(command);
}

void TMainForm::ConnectButtonClick()
{
    session_->Connect(ToBytes(IPEdit->text()), ToBytes(PortEdit->text()));
}

void TMainForm::DisconnecyButtonClick()
{
    session_->Disconnect();
}

void TMainForm::ClientSocket1Connecting(TClientSocket&, TClientWinSocket&)
{
    session_->Connecting();
}

void TMainForm::ClientSocket1Disconnect(TClientSocket&, TClientWinSocket&)
{
    session_->Disconnected();
}

void TMainForm::ClientSocket1Error(TClientSocket&, TClientWinSocket&, TErrorEvent, int& errorCode)
{
    session_->Error(errorCode);
}

void TMainForm::ClientSocket1Read(TClientSocket&, TClientWinSocket&)
{
    session_->Read();
}

void TMainForm::SetStatus(const QByteArray& text)
{
    StatusPanel0->setText(ToDisplay(text));
}

QByteArray TMainForm::PasswordText() const
{
    return ToBytes(PasswordEdit->text());
}

TListBox* TMainForm::ListBoxFor(ListKind list) const
{
    switch (list) {
    case ListKind::Maps: return MapsListBox;
    case ListKind::Players: return PlayersListBox;
    case ListKind::Bans: break;
    }
    return BansListBox;
}

void TMainForm::ClearList(ListKind list)
{
    ListBoxFor(list)->Clear();
}

void TMainForm::AppendToList(ListKind list, const QList<QByteArray>& entries)
{
    ListBoxFor(list)->Append(entries);
}
