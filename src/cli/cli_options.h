#pragma once

// ravelin-cli's command line, read with getopt_long as other command-line
// programs read theirs: "-H HOST", "-HHOST", "--host HOST", "--host=HOST",
// options before, between or after the commands, and "--" to end them.
// Commands are taken byte for byte from the arguments; they become the
// server's bytes later (terminal_text.h). A password is never taken from the
// command line, where every user of the machine can read it.

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

struct CliOptions
{
    QByteArray host; // -H, or RAVELIN_HOST
    quint16 port = 4711;
    QByteArray serverName; // -S: one saved server, as the terminal gives its name
    QString serversFile;
    bool listServers = false;
    QString passwordFile;
    bool emptyPasswordAllowed = false;
    std::chrono::milliseconds replyTimeout{10000};
    std::chrono::milliseconds giveUpTimeout{60000};
    std::chrono::milliseconds delay{0};
    bool json = false;
    bool verbose = false;
    bool audit = true;
    QList<QByteArray> commands;
};

// What the environment says in place of options.
struct CliEnvironment
{
    std::optional<QByteArray> host;     // RAVELIN_HOST
    std::optional<QByteArray> port;     // RAVELIN_PORT
    std::optional<QByteArray> database; // RAVELIN_DATABASE

    static CliEnvironment fromProcess();
};

// A command line read: the options, or what to print before stopping at once.
template <typename Options>
struct ParsedCommandLine
{
    // Set when the program is to stop at once: the text to print, and the
    // exit status (0 for --help and --version, 2 for a usage error).
    std::optional<int> exitStatus;
    QByteArray output;
    bool outputIsError = false;
    Options options;
};
using CliCommandLine = ParsedCommandLine<CliOptions>;

CliCommandLine parseCliCommandLine(const QList<QByteArray>& arguments, const QByteArray& version,
                                   const CliEnvironment& environment = {});

// The text of --help.
QByteArray cliHelpText();

// "ravelin-cli watch": every server of a file watched until SIGTERM or SIGINT.
struct WatchOptions
{
    QString configFile;              // --config; empty for the default, when it is there
    QString serversFile;             // --servers; empty for the config's, or the window's servers.txt
    QString automationFile;          // --automation; empty for the config's, or automation.toml when there
    QString desiredFile;             // --desired; empty for the config's: no drift check without one
    std::optional<QString> database; // --database, or RAVELIN_DATABASE
    std::optional<std::chrono::milliseconds> interval;
    std::optional<int> retentionDays;
    std::chrono::milliseconds replyTimeout{10000};
    bool json = false;
    bool verbose = false;
};
using WatchCommandLine = ParsedCommandLine<WatchOptions>;

// `arguments` from the word "watch" on.
WatchCommandLine parseWatchCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment = {});
QByteArray watchHelpText();

// "ravelin-cli plan|apply|undo": a fleet brought to the state a file says.
struct DesiredOptions
{
    enum class Verb { Plan, Apply, Undo };
    Verb verb = Verb::Plan;
    QString serversFile;             // --servers; empty for the window's servers.txt
    QString desiredFile;             // --desired; empty for ~/.config/ravelin/desired.toml
    std::optional<QString> database; // --database, or RAVELIN_DATABASE
    std::optional<qint64> snapshot;  // undo's SNAPSHOT
    QString canary;                  // --canary NAME
    std::chrono::milliseconds wait{0};
    int maxDropPercent = 25;
    std::chrono::milliseconds replyTimeout{10000};
    bool json = false;
};
using DesiredCommandLine = ParsedCommandLine<DesiredOptions>;

// `arguments` from the word "plan", "apply" or "undo" on.
DesiredCommandLine parseDesiredCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment = {});
QByteArray desiredHelpText(DesiredOptions::Verb verb);

// "ravelin-cli history QUERY": what the player store knows of some players.
struct HistoryOptions
{
    QByteArray query;                // as the terminal gives it
    std::optional<QString> database; // --database, or RAVELIN_DATABASE
    int limit = 50;
    bool json = false;
};
using HistoryCommandLine = ParsedCommandLine<HistoryOptions>;

// `arguments` from the word "history" on.
HistoryCommandLine parseHistoryCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment = {});
QByteArray historyHelpText();
