#include "app/server_dialogs.h"

#include "app/dialogs.h"
#include "app/text_codec.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* makeNote(const QString& text, QWidget* parent, const char* name)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QPushButton* makeButton(const char* caption, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(QLatin1String(caption), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

QString passwordNote(bool keyringAvailable)
{
    return keyringAvailable ? QStringLiteral("Passwords of saved servers are kept in the desktop's keyring.")
                            : QStringLiteral("No keyring is running, so passwords of saved servers are not kept: "
                                             "you type the password when you connect.");
}

QString serverCaption(const SavedServer& server)
{
    return toDisplay(server.name + " (" + server.address + ':' + server.port + ')');
}

SaveServerDialog::SaveServerDialog(const SavedServer& server, bool keyringAvailable, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("saveServerDialog"));
    setWindowTitle(QStringLiteral("Save Current Server"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    nameEdit_ = new QLineEdit(toDisplay(server.name), this);
    nameEdit_->setObjectName(QStringLiteral("serverNameEdit"));
    nameEdit_->setMaxLength(kMaxNameLength);
    nameEdit_->selectAll();
    form->addRow(QStringLiteral("&Name:"), nameEdit_);
    auto* where = new QLabel(toDisplay(server.address + ':' + server.port), this);
    where->setTextFormat(Qt::PlainText);
    form->addRow(QStringLiteral("Server:"), where);
    layout->addLayout(form);
    layout->addWidget(makeNote(passwordNote(keyringAvailable), this, "passwordNote"));
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A server needs a name to be found by in the menu.
    const auto updateOk = [this] {
        buttons_->button(QDialogButtonBox::Ok)->setEnabled(!nameEdit_->text().trimmed().isEmpty());
    };
    connect(nameEdit_, &QLineEdit::textChanged, this, updateOk);
    updateOk();
    setMinimumWidth(360);
}

QByteArray SaveServerDialog::name() const
{
    return toBytes(nameEdit_->text().trimmed());
}

ManageServersDialog::ManageServersDialog(SavedServers servers, bool keyringAvailable, std::shared_ptr<Dialogs> dialogs,
                                         QWidget* parent)
    : QDialog(parent)
    , guard_(this, dialogs)
    , dialogs_(std::move(dialogs))
    , servers_(std::move(servers))
{
    setObjectName(QStringLiteral("manageServersDialog"));
    setWindowTitle(QStringLiteral("Manage Servers"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Saved servers:"), this);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    serverList_ = new QListWidget(this);
    serverList_->setObjectName(QStringLiteral("serverList"));
    label->setBuddy(serverList_);
    row->addWidget(serverList_, 1);
    auto* column = new QVBoxLayout;
    renameButton_ = makeButton("&Rename...", "renameServerButton", this);
    deleteButton_ = makeButton("&Delete", "deleteServerButton", this);
    moveUpButton_ = makeButton("Move &Up", "moveServerUpButton", this);
    moveDownButton_ = makeButton("Move Do&wn", "moveServerDownButton", this);
    for (QPushButton* button : {renameButton_, deleteButton_, moveUpButton_, moveDownButton_})
        column->addWidget(button);
    column->addStretch();
    row->addLayout(column);
    layout->addLayout(row);
    messageLabel_ = makeNote(QString(), this, "messageLabel");
    layout->addWidget(messageLabel_);
    layout->addWidget(makeNote(passwordNote(keyringAvailable), this, "passwordNote"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    guard_.bind(renameButton_, &QPushButton::clicked, [this] { onRenameClicked(); });
    guard_.bind(deleteButton_, &QPushButton::clicked, [this] { onDeleteClicked(); });
    guard_.bind(moveUpButton_, &QPushButton::clicked, [this] { onMoveClicked(-1); });
    guard_.bind(moveDownButton_, &QPushButton::clicked, [this] { onMoveClicked(1); });
    guard_.bind(serverList_, &QListWidget::currentRowChanged, [this] { updateButtons(); });
    guard_.bind(serverList_, &QListWidget::itemActivated, [this] { onRenameClicked(); });

    showServers(0);
    resize(460, 300);
}

void ManageServersDialog::showServers(qsizetype selected)
{
    serverList_->clear();
    for (const SavedServer& server : servers_.servers())
        serverList_->addItem(serverCaption(server));
    serverList_->setCurrentRow(int(std::min(selected, servers_.servers().size() - 1)));
    updateButtons();
}

void ManageServersDialog::updateButtons()
{
    const int row = serverList_->currentRow();
    const int count = serverList_->count();
    renameButton_->setEnabled(row >= 0);
    deleteButton_->setEnabled(row >= 0);
    moveUpButton_->setEnabled(row > 0);
    moveDownButton_->setEnabled(row >= 0 && row < count - 1);
}

void ManageServersDialog::onRenameClicked()
{
    const int row = serverList_->currentRow();
    if (row < 0)
        return;
    const std::optional<QString> typed = dialogs_->inputQuery(this, QStringLiteral("Rename Server"),
                                                              QStringLiteral("Name:"), SaveServerDialog::kMaxNameLength,
                                                              toDisplay(servers_.servers()[row].name));
    if (!typed)
        return;
    const QByteArray name = toBytes(typed->trimmed());
    const auto existing = servers_.indexOf(name);
    if (name.isEmpty() || (existing && *existing != row)) {
        messageLabel_->setText(name.isEmpty()
                                   ? QStringLiteral("A saved server needs a name.")
                                   : QStringLiteral("A server named \"%1\" is already saved.").arg(toDisplay(name)));
        return;
    }
    messageLabel_->clear();
    servers_.rename(row, name);
    showServers(row);
}

void ManageServersDialog::onDeleteClicked()
{
    const int row = serverList_->currentRow();
    if (row < 0)
        return;
    deleted_.append(servers_.servers()[row]);
    servers_.remove(row);
    messageLabel_->clear();
    showServers(row);
}

void ManageServersDialog::onMoveClicked(int step)
{
    const int row = serverList_->currentRow();
    if (row < 0)
        return;
    servers_.move(row, step);
    showServers(row + step);
}
