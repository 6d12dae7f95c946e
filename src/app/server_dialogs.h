#pragma once

// The dialogs of the Servers menu: naming the current server to save it, and
// managing the saved ones (rename, delete, reorder). Both say where the
// passwords go: to the desktop's keyring, or, without one, nowhere.

#include "app/event_binding.h"
#include "storage/saved_servers.h"

#include <QDialog>

#include <memory>

class Dialogs;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The note both dialogs show about the passwords.
QString passwordNote(bool keyringAvailable);

// How a saved server reads in the menu and the list: "name (address:port)".
QString serverCaption(const SavedServer& server);

class SaveServerDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kMaxNameLength = 64;

    SaveServerDialog(const SavedServer& server, bool keyringAvailable, QWidget* parent = nullptr);

    // The name as typed, in the program's 8-bit text.
    QByteArray name() const;

private:
    QLineEdit* nameEdit_;
    QDialogButtonBox* buttons_;
};

class ManageServersDialog : public QDialog
{
    Q_OBJECT

public:
    ManageServersDialog(SavedServers servers, bool keyringAvailable, std::shared_ptr<Dialogs> dialogs,
                        QWidget* parent = nullptr);

    // The list as edited; it counts only when the dialog was accepted.
    const SavedServers& servers() const { return servers_; }
    // The servers deleted, for their passwords to go too.
    const QList<SavedServer>& deleted() const { return deleted_; }

private:
    void onRenameClicked();
    void onDeleteClicked();
    void onMoveClicked(int step);
    void showServers(qsizetype selected);
    void updateButtons();

    ErrorGuard guard_;
    std::shared_ptr<Dialogs> dialogs_;
    SavedServers servers_;
    QList<SavedServer> deleted_;
    QListWidget* serverList_;
    QPushButton* renameButton_;
    QPushButton* deleteButton_;
    QPushButton* moveUpButton_;
    QPushButton* moveDownButton_;
    QLabel* messageLabel_;
};
