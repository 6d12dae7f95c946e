#pragma once

// A fresh main window per test: its own working directory with maps.dat and
// servermessages.dat, its own settings.ini, dialogs that answer at once, and
// an in-process practice server on a port the system picks. Tests reach the
// window's controls by their object names, as a user reaches them by sight.

#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "sim_server.h"
#include "storage/password_store.h"
#include "support/listings.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>

class ListBox;
class QLineEdit;
class QPushButton;

// Answers every modal box at once and records what was shown. An input box
// is answered with `inputAnswer` as typed: its length limit is the real box's
// business, tested on the real box.
class AnsweringDialogs : public Dialogs
{
public:
    struct Box
    {
        QString kind; // "input", "yesno", "error", "modal", "save"
        QString title;
        QString text;
        int maxLength = 0;
        QString initialText = {};
    };

    QList<Box> shown;
    std::optional<QString> inputAnswer; // nothing: Cancel
    bool yesAnswer = false;
    QList<QDialog*> modalDialogs;
    // The file a save box chooses; nothing: Cancel.
    std::optional<SaveChoice> saveAnswer;
    // Plays the user's part in a window shown modally (fills it in, clicks
    // OK); without one, the window closes as if cancelled.
    std::function<void(QDialog&)> onModal;

    std::optional<QString> inputQuery(QWidget*, const QString& title, const QString& prompt, int maxLength,
                                      const QString& text = QString()) override;
    bool askYesNo(QWidget*, const QString& caption, const QString& text) override;
    void showError(QWidget*, const QString& title, const QString& text) override;
    void showModal(QDialog& dialog) override;
    std::optional<SaveChoice> askSaveFile(QWidget*, const QString& title, const QString& suggestedPath,
                                          const QStringList& filters) override;

    QList<QString> errors() const;
};

// Records the folders opened and the notifications shown.
class RecordingDesktop : public Desktop
{
public:
    QStringList openedFolders;
    QList<QStringList> notifications; // summary, body

    bool openFolder(const QString& path) override;
    void notify(const QString& summary, const QString& body) override;
};

// A keyring in memory that answers on the next turn of the event loop, as a
// real one does; or, when not available, one that is not running at all.
class MemoryKeyring : public PasswordStore
{
public:
    bool available = true;
    QMap<QString, QByteArray> passwords;

    bool isAvailable() const override { return available; }
    void read(const QString& key, std::function<void(std::optional<QByteArray>)> done) override;
    void write(const QString& key, const QByteArray& password, std::function<void(QString)> done) override;
    void remove(const QString& key) override;
};

class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The files start-up reads, in the test's working directory.
    void writeFile(const QString& name, const QByteArray& contents);
    void removeFile(const QString& name);
    QByteArray readFile(const QString& name) const;
    QString settingsPath() const { return dir_.filePath(QStringLiteral("settings.ini")); }
    QString workPath(const QString& name) const { return dir_.filePath(name); }

    MainWindow& window();
    // A new window whose three files are in `folder`, the test's own by default.
    MainWindow& createWindow(const QString& folder = {});
    // What createWindow gives its window, for a second one on the same files.
    MainWindowOptions windowOptions(const QString& folder = {}) const;
    void destroyWindow();

    // A control of the window, found by its object name; the test fails at
    // once when there is none of that name and kind.
    template <typename Control>
    Control& control(const char* name)
    {
        auto* found = window().findChild<Control*>(QLatin1String(name));
        if (!found)
            throw std::runtime_error(std::string("no control named ") + name);
        return *found;
    }
    QPushButton& button(const char* name);
    QLineEdit& edit(const char* name);
    ListBox& list(const char* name);
    // Puts `text` into an edit, each byte as the character the window shows for it.
    void fill(const char* name, const QByteArray& text);

    // The practice server, made with `serverOptions_` at first use; its timing
    // is the stock server's unless a test says otherwise.
    RconSimServer& server();
    // A new practice server made with `options`, in place of the old one.
    RconSimServer& replaceServer(const RconSimOptions& options);
    // Connects to the practice server through the window and waits for the
    // login to succeed.
    void connectAndLogin(const QByteArray& password = "secret");
    // The lines the server received after the login, framing included.
    QList<QByteArray> commandsAfterLogin() const;
    // Runs `action` and gives the lines the server received from it: waits
    // for `expected` lines, then a little longer, so that a line too many shows.
    QList<QByteArray> sentBy(const std::function<void()>& action, qsizetype expected);

    QList<QByteArray> logLines();
    QList<QByteArray> logLinesSince(qsizetype mark);
    QByteArray status();

    std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
    std::shared_ptr<RecordingDesktop> desktop_ = std::make_shared<RecordingDesktop>();
    std::shared_ptr<MemoryKeyring> keyring_ = std::make_shared<MemoryKeyring>();
    // The audit log's folder and the saved servers' file of the windows made
    // after this; empty keeps neither.
    QString auditLogFolder_;
    qint64 auditLogDayCap_ = AuditLog::kDefaultDayCap;
    QString savedServersPath_;
    // The player store of the windows made after this; empty keeps none.
    QString storeUrl_;
    RconSimOptions serverOptions_;
    // How long the windows made after this wait for a reply, and for a connect.
    std::chrono::milliseconds replyTimeout_{10000};
    std::chrono::milliseconds connectTimeout_{21000};
    // How long a login after a drop must last before the window says the connection is back.
    std::chrono::milliseconds reconnectHeldAfter_{60000};

private:
    QTemporaryDir dir_;
    QString previousDir_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<RconSimServer> server_;
    qsizetype linesAtLogin_ = 0;
};
