#pragma once

// A fresh main window per test: its own working directory with maps.dat and
// servermessages.dat, its own settings.ini, dialogs that answer at once, and
// an in-process practice server on a port the system picks.

#include "app/dialogs.h"
#include "app/main_form.h"
#include "sim_server.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>
#include <optional>

// Answers every modal box at once and records what was shown.
class AnsweringDialogs : public Dialogs
{
public:
    struct Box
    {
        QString kind; // "input", "yesno", "error", "modal"
        QString title;
        QString text;
        int maxLength = 0;
    };

    QList<Box> shown;
    std::optional<QString> inputAnswer; // nothing: Cancel
    bool yesAnswer = false;
    QList<QDialog*> modalDialogs;

    std::optional<QString> InputQuery(QWidget*, const QString& title, const QString& prompt, int maxLength) override;
    bool AskYesNo(QWidget*, const QString& caption, const QString& text) override;
    void ShowError(QWidget*, const QString& title, const QString& text) override;
    void ShowModal(QDialog& dialog) override;

    QList<QString> Errors() const;
};

class FormTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The files start-up reads, in the test's working directory.
    void WriteFile(const QString& name, const QByteArray& contents);
    void RemoveFile(const QString& name);
    QByteArray ReadFile(const QString& name) const;
    QString SettingsPath() const { return dir_.filePath(QStringLiteral("settings.ini")); }
    QString WorkPath(const QString& name) const { return dir_.filePath(name); }

    TMainForm& Form();
    TMainForm& CreateForm();
    void DestroyForm();

    // The practice server, made with `serverOptions_` at first use; its timing
    // is the stock server's unless a test says otherwise.
    RconSimServer& Server();
    // A new practice server made with `options`, in place of the old one.
    RconSimServer& ReplaceServer(const RconSimOptions& options);
    // Connects to the practice server through the window and waits for the
    // login to succeed.
    void ConnectAndLogin(const QByteArray& password = "secret");
    // Waits until the server has received `count` lines in all, and returns them.
    QList<QByteArray> WaitForLines(qsizetype count);
    // The lines the server received after the login, framing included.
    QList<QByteArray> CommandsAfterLogin() const;

    QList<QByteArray> LogLines() const;
    QList<QByteArray> LogLinesSince(qsizetype mark) const;
    QByteArray Status() const;

    std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
    RconSimOptions serverOptions_;
    // How long the windows made after this wait for a reply.
    std::chrono::milliseconds replyTimeout_{10000};

private:
    QTemporaryDir dir_;
    QString previousDir_;
    std::unique_ptr<TMainForm> form_;
    std::unique_ptr<RconSimServer> server_;
    qsizetype linesAtLogin_ = 0;
};

// The wire form of a command as the server records it: 0x02 then the text.
QByteArray Framed(const QByteArray& command);

// The entries a list box keeps for a listing of the practice server: one per
// line, or for players one per two lines joined.
QList<QByteArray> ListingEntries(const QByteArray& listing, bool pairs);
