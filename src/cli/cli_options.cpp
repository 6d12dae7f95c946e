#include "cli/cli_options.h"

#include "admin/list_fields.h"

#include <cmath>
#include <getopt.h>
#include <vector>

namespace {

constexpr char kProgram[] = "ravelin-cli";
// The longest reply timeout that still fits the session's timer.
constexpr double kMaxTimeoutSeconds = 86400;

// What stops the program at once; it becomes a command line of any kind.
struct Stop
{
    int status;
    QByteArray text;
    bool isError;

    template <typename Options>
    operator ParsedCommandLine<Options>() const
    {
        ParsedCommandLine<Options> line;
        line.exitStatus = status;
        line.output = text;
        line.outputIsError = isError;
        return line;
    }
};

Stop stop(int status, const QByteArray& text, bool isError)
{
    return {status, text, isError};
}

Stop usageError(const QByteArray& message, const QByteArray& help = "--help")
{
    return stop(2, QByteArray(kProgram) + ": " + message + "\nTry '" + kProgram + ' ' + help + "'.\n", true);
}

// getopt_long over a list of arguments. It reorders the pointers of its own
// copies, never the bytes they point to, and starts afresh each time.
class OptionReader
{
public:
    OptionReader(const QList<QByteArray>& arguments, const char* shortOptions, const option* longOptions)
        : copies_(arguments)
        , shortOptions_(shortOptions)
        , longOptions_(longOptions)
    {
        for (QByteArray& argument : copies_)
            argv_.push_back(argument.data());
        argv_.push_back(nullptr);
        optind = 0; // starts afresh, as each run of a parser must
        opterr = 0; // the messages are ours
    }

    // The next option, or -1 after the last; ':' for a missing value, '?' for another mistake.
    int next()
    {
        const int option = getopt_long(argc(), argv_.data(), shortOptions_, longOptions_, nullptr);
        value_ = optarg ? QByteArray(optarg) : QByteArray();
        given_ = option == -1 ? QByteArray() : QByteArray(argv_[optind - 1]);
        return option;
    }
    const QByteArray& value() const { return value_; }

    // What was wrong with the option next() gave as ':' or '?'.
    QByteArray mistake(int option) const
    {
        if (option == ':') {
            const QByteArray name = given_.startsWith("--") ? given_ : "-" + QByteArray(1, char(optopt));
            return "option '" + name + "' needs a value";
        }
        if (given_.startsWith("--") && optopt != 0)
            return "option '" + given_.left(given_.indexOf('=')) + "' takes no value";
        if (optopt == 0 || optopt >= 256)
            return "unknown option '" + given_ + "'";
        return "unknown option '-" + QByteArray(1, char(optopt)) + "'";
    }

    // The arguments that are not options, in order.
    QList<QByteArray> rest() const
    {
        QList<QByteArray> rest;
        for (int i = optind; i < argc(); ++i)
            rest.append(QByteArray(argv_[size_t(i)]));
        return rest;
    }

private:
    int argc() const { return int(argv_.size()) - 1; }

    QList<QByteArray> copies_;
    std::vector<char*> argv_;
    const char* shortOptions_;
    const option* longOptions_;
    QByteArray value_;
    QByteArray given_;
};

std::optional<std::chrono::milliseconds> readSeconds(const QByteArray& text, bool zeroAllowed)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || (seconds == 0 && !zeroAllowed) || seconds > kMaxTimeoutSeconds)
        return std::nullopt;
    if (seconds == 0)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(std::max<qint64>(1, std::llround(seconds * 1000)));
}

// --timeout's seconds into `timeout`, or the usage error they make.
std::optional<Stop> readTimeout(const QByteArray& value, const QByteArray& help, std::chrono::milliseconds& timeout)
{
    const auto seconds = readSeconds(value, false);
    if (!seconds)
        return usageError("the timeout must be a number of seconds above 0 and at most 86400, not '" + value + "'",
                          help);
    timeout = *seconds;
    return std::nullopt;
}

std::optional<quint16> readPort(const QByteArray& text)
{
    const auto port = list_fields::wholeNumber(text);
    if (!port || *port < 1 || *port > 65535 || text.trimmed() != text)
        return std::nullopt;
    return quint16(*port);
}

// The options' own numbers, past every character a short option can be.
enum LongOnly : int {
    Servers = 256,
    ListServers,
    PasswordFile,
    EmptyPassword,
    Timeout,
    GiveUp,
    Delay,
    Json,
    NoAudit,
    Version,
};

constexpr char kShortOptions[] = ":H:P:S:p::vh";
const option kLongOptions[] = {
    {"host", required_argument, nullptr, 'H'},
    {"port", required_argument, nullptr, 'P'},
    {"server", required_argument, nullptr, 'S'},
    {"servers", required_argument, nullptr, Servers},
    {"list-servers", no_argument, nullptr, ListServers},
    {"password-file", required_argument, nullptr, PasswordFile},
    {"password", optional_argument, nullptr, 'p'},
    {"empty-password", no_argument, nullptr, EmptyPassword},
    {"timeout", required_argument, nullptr, Timeout},
    {"give-up", required_argument, nullptr, GiveUp},
    {"delay", required_argument, nullptr, Delay},
    {"json", no_argument, nullptr, Json},
    {"no-audit", no_argument, nullptr, NoAudit},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, Version},
    {nullptr, 0, nullptr, 0},
};

} // namespace

QByteArray cliHelpText()
{
    return "Usage: ravelin-cli -H HOST [-P PORT] [OPTION]... [COMMAND]...\n"
           "       ravelin-cli -S NAME [OPTION]... [COMMAND]...\n"
           "       ravelin-cli --servers FILE [OPTION]... [COMMAND]...\n"
           "       ravelin-cli watch|history|automation|plan|apply|undo ... (each with --help)\n"
           "Sends console commands to a Battlefield 2 server's remote console and prints\n"
           "each reply. Each COMMAND is sent as it is given (\"exec admin.listPlayers\").\n"
           "Without a COMMAND, commands are read from standard input, one a line, or\n"
           "typed at a prompt when standard input is a terminal.\n"
           "\n"
           "Options:\n"
           "  -H, --host HOST         the server's address or name (or RAVELIN_HOST)\n"
           "  -P, --port PORT         its remote console port (or RAVELIN_PORT; default 4711)\n"
           "  -S, --server NAME       the server saved under NAME in the window's servers.txt\n"
           "                          (or in --servers FILE); its password comes from the\n"
           "                          keyring when the window keeps it there\n"
           "      --servers FILE      runs the commands on every server of FILE at once;\n"
           "                          a line is: NAME HOST PORT [PASSWORD-FILE], or the\n"
           "                          window's NAME<tab>HOST<tab>PORT\n"
           "      --list-servers      prints the saved servers (never a password) and exits\n"
           "      --password-file FILE  takes the password from the first line of FILE\n"
           "      --empty-password    logs in with an empty password, which is otherwise refused\n"
           "      --timeout SECONDS   how long a reply may take before it counts as late\n"
           "                          (default 10); a late reply is still awaited\n"
           "      --give-up SECONDS   how long without a reply before the connection is\n"
           "                          closed (default 60, never below --timeout)\n"
           "      --delay SECONDS     waits this long after a reply before the next command\n"
           "      --json              prints the replies as JSON, one object a line\n"
           "      --no-audit          writes nothing to the audit log\n"
           "  -v, --verbose           prints every line of the session's log on standard error\n"
           "  -h, --help              shows this help and exits\n"
           "      --version           shows the version and exits\n"
           "\n"
           "The password comes from the keyring (for a saved server), --password-file,\n"
           "RAVELIN_PASSWORD, or a prompt on the terminal; never from the command line.\n"
           "With --servers, a server's own RAVELIN_PASSWORD_<NAME> or password file comes\n"
           "first. Text is taken and shown in the terminal's encoding and sent in the\n"
           "server's (Windows-1252), as the window sends it.\n"
           "\n"
           "Exit status: 0 every command answered, 1 login failed, 2 usage error,\n"
           "3 connection failed or lost, 4 a reply timed out. With --servers, the worst\n"
           "of the servers' (3, then 1, then 4).\n"
           "See ravelin-cli(1).\n";
}

CliEnvironment CliEnvironment::fromProcess()
{
    CliEnvironment environment;
    if (qEnvironmentVariableIsSet("RAVELIN_HOST"))
        environment.host = qgetenv("RAVELIN_HOST");
    if (qEnvironmentVariableIsSet("RAVELIN_PORT"))
        environment.port = qgetenv("RAVELIN_PORT");
    if (qEnvironmentVariableIsSet("RAVELIN_DATABASE"))
        environment.database = qgetenv("RAVELIN_DATABASE");
    return environment;
}

CliCommandLine parseCliCommandLine(const QList<QByteArray>& arguments, const QByteArray& version,
                                   const CliEnvironment& environment)
{
    CliCommandLine result;
    CliOptions& options = result.options;
    bool hostGiven = false;
    bool portGiven = false;
    OptionReader reader(arguments, kShortOptions, kLongOptions);
    int option;
    while ((option = reader.next()) != -1) {
        const QByteArray& value = reader.value();
        switch (option) {
        case 'h': return stop(0, cliHelpText(), false);
        case Version: return stop(0, QByteArray(kProgram) + ' ' + version + '\n', false);
        case 'p':
            return usageError("a password is never taken from the command line, where other users can see it;\n"
                              "use RAVELIN_PASSWORD, --password-file FILE or the prompt");
        case 'H':
            if (value.isEmpty())
                return usageError("the host is empty");
            options.host = value;
            hostGiven = true;
            break;
        case 'P': {
            const auto port = readPort(value);
            if (!port)
                return usageError("the port must be a whole number from 1 to 65535, not '" + value + "'");
            options.port = *port;
            portGiven = true;
            break;
        }
        case 'S':
            if (value.isEmpty())
                return usageError("the server's name is empty");
            options.serverName = value;
            break;
        case Servers: options.serversFile = QString::fromLocal8Bit(value); break;
        case ListServers: options.listServers = true; break;
        case PasswordFile: options.passwordFile = QString::fromLocal8Bit(value); break;
        case EmptyPassword: options.emptyPasswordAllowed = true; break;
        case Timeout:
            if (const std::optional<Stop> mistake = readTimeout(value, "--help", options.replyTimeout))
                return *mistake;
            break;
        case GiveUp:
            if (const auto timeout = readSeconds(value, false))
                options.giveUpTimeout = *timeout;
            else
                return usageError("the give-up time must be a number of seconds above 0 and at most 86400, not '"
                                  + value + "'");
            break;
        case Delay:
            if (const auto delay = readSeconds(value, true))
                options.delay = *delay;
            else
                return usageError("the delay must be a number of seconds from 0 to 86400, not '" + value + "'");
            break;
        case Json: options.json = true; break;
        case NoAudit: options.audit = false; break;
        case 'v': options.verbose = true; break;
        default: return usageError(reader.mistake(option)); // ':' or '?'
        }
    }
    options.commands = reader.rest();

    if (options.listServers)
        return result;
    const bool named = !options.serverName.isEmpty();
    const bool fromFile = !options.serversFile.isEmpty();
    if (hostGiven && (named || fromFile))
        return usageError("give one of -H HOST, -S NAME and --servers FILE");
    if (portGiven && !hostGiven && (named || fromFile))
        return usageError("-P PORT goes with -H HOST; a saved server has its own port");
    if (!hostGiven && !named && !fromFile) {
        if (!environment.host || environment.host->isEmpty())
            return usageError("no server: give -H HOST, -S NAME or --servers FILE");
        options.host = *environment.host;
    }
    if (!portGiven && environment.port && !named && !fromFile) {
        const auto port = readPort(*environment.port);
        if (!port)
            return usageError("RAVELIN_PORT must be a whole number from 1 to 65535, not '" + *environment.port + "'");
        options.port = *port;
    }
    return result;
}

QByteArray watchHelpText()
{
    return "Usage: ravelin-cli watch [--servers FILE] [OPTION]...\n"
           "Watches every server of FILE (the window's servers.txt when not given) until\n"
           "SIGTERM or SIGINT: who joins, leaves, renames or moves, the map, the bans.\n"
           "Prints one line per event and keeps them in the player store.\n"
           "\n"
           "Options:\n"
           "      --servers FILE      the servers, as for ravelin-cli --servers\n"
           "      --config FILE       reads servers, automation, database, interval and\n"
           "                          retention-days from FILE (default\n"
           "                          ~/.config/ravelin/watch.conf)\n"
           "      --automation FILE   runs the schedules, rules and webhooks of FILE (default\n"
           "                          ~/.config/ravelin/automation.toml when it is there);\n"
           "                          see ravelin-automation(5)\n"
           "      --desired FILE      compares each server with the desired state of FILE\n"
           "                          every 5 minutes; a difference is a drift event\n"
           "                          (see ravelin-fleet(5))\n"
           "      --database URL      the store: sqlite:PATH, a file path, or\n"
           "                          postgresql://USER@HOST:PORT/DB (or RAVELIN_DATABASE)\n"
           "      --interval SECONDS  how often each server is looked at (default 15, at least 5)\n"
           "      --retention-days N  forgets sessions older than N days\n"
           "      --timeout SECONDS   how long a reply may take before it counts as late\n"
           "      --json              prints each event as a JSON object on a line\n"
           "  -v, --verbose           prints every line of the sessions' logs on standard error\n"
           "  -h, --help              shows this help and exits\n"
           "See ravelin-cli(1).\n";
}

WatchCommandLine parseWatchCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment)
{
    enum : int {
        ConfigFile = 256,
        ServersFile,
        Database,
        Interval,
        RetentionDays,
        TimeoutOption,
        JsonOutput,
        Automation,
        Desired
    };
    static const option kWatchOptions[] = {
        {"config", required_argument, nullptr, ConfigFile},
        {"automation", required_argument, nullptr, Automation},
        {"desired", required_argument, nullptr, Desired},
        {"servers", required_argument, nullptr, ServersFile},
        {"database", required_argument, nullptr, Database},
        {"interval", required_argument, nullptr, Interval},
        {"retention-days", required_argument, nullptr, RetentionDays},
        {"timeout", required_argument, nullptr, TimeoutOption},
        {"json", no_argument, nullptr, JsonOutput},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    WatchCommandLine result;
    WatchOptions& options = result.options;
    if (environment.database)
        options.database = QString::fromLocal8Bit(*environment.database);
    const QByteArray help = "watch --help";
    OptionReader reader(arguments, ":vh", kWatchOptions);
    int option;
    while ((option = reader.next()) != -1) {
        const QByteArray& value = reader.value();
        switch (option) {
        case 'h': return stop(0, watchHelpText(), false);
        case ConfigFile: options.configFile = QString::fromLocal8Bit(value); break;
        case ServersFile: options.serversFile = QString::fromLocal8Bit(value); break;
        case Automation: options.automationFile = QString::fromLocal8Bit(value); break;
        case Desired: options.desiredFile = QString::fromLocal8Bit(value); break;
        case Database: options.database = QString::fromLocal8Bit(value); break;
        case Interval: {
            const auto interval = readSeconds(value, false);
            if (!interval || *interval < std::chrono::seconds(5))
                return usageError("the interval must be a number of seconds from 5 to 86400, not '" + value + "'",
                                  help);
            options.interval = *interval;
            break;
        }
        case RetentionDays: {
            const auto days = list_fields::wholeNumber(value);
            if (!days || *days < 1 || *days > 100000)
                return usageError("the retention must be a whole number of days from 1, not '" + value + "'", help);
            options.retentionDays = int(*days);
            break;
        }
        case TimeoutOption:
            if (const std::optional<Stop> mistake = readTimeout(value, help, options.replyTimeout))
                return *mistake;
            break;
        case JsonOutput: options.json = true; break;
        case 'v': options.verbose = true; break;
        default: return usageError(reader.mistake(option), help);
        }
    }
    if (const QList<QByteArray> rest = reader.rest(); !rest.isEmpty())
        return usageError("watch takes no commands, not '" + rest.first() + "'", help);
    return result;
}

QByteArray desiredHelpText(DesiredOptions::Verb verb)
{
    switch (verb) {
    case DesiredOptions::Verb::Plan:
        return "Usage: ravelin-cli plan [--servers FILE] [--desired FILE] [--json]\n"
               "Reads every server's rotation, the settings the desired-state file names and\n"
               "the bans, one command at a time, and prints what would change: + added,\n"
               "- removed, ~ changed, ! wanted but not possible. Exit status 0 when nothing\n"
               "would change, 5 when something would, 2 for a usage error, 3 when a server\n"
               "could not be read.\n"
               "\n"
               "Options:\n"
               "      --servers FILE      the servers (default the window's servers.txt)\n"
               "      --desired FILE      the desired state (default\n"
               "                          ~/.config/ravelin/desired.toml); see ravelin-fleet(5)\n"
               "      --timeout SECONDS   how long a reply may take before it counts as late\n"
               "      --json              prints each server's plan as a JSON object on a line\n"
               "  -h, --help              shows this help and exits\n";
    case DesiredOptions::Verb::Apply:
        return "Usage: ravelin-cli apply [--servers FILE] [--desired FILE] [OPTION]...\n"
               "Keeps a snapshot of each server's state in the player store, then makes the\n"
               "plan's changes one command at a time, reads the state back and checks it. A\n"
               "server that fails or does not read back as wanted is put back as its snapshot\n"
               "shows. Exit status 0 when every server is as wanted, 3 when one could not be\n"
               "reached, 6 when one failed (and was put back), 7 when the canary lost players.\n"
               "\n"
               "Options:\n"
               "      --servers FILE      the servers (default the window's servers.txt)\n"
               "      --desired FILE      the desired state (default\n"
               "                          ~/.config/ravelin/desired.toml); see ravelin-fleet(5)\n"
               "      --canary NAME       applies to this server first, and to the others only\n"
               "                          when its players did not drop during --wait\n"
               "      --wait MINUTES      how long the canary is watched (default 0)\n"
               "      --max-drop PERCENT  the drop in the canary's players that stops the\n"
               "                          rest (default 25)\n"
               "      --database URL      the player store the snapshots go to (or\n"
               "                          RAVELIN_DATABASE)\n"
               "      --timeout SECONDS   how long a reply may take before it counts as late\n"
               "      --json              prints each server's outcome as a JSON object on a line\n"
               "  -h, --help              shows this help and exits\n";
    case DesiredOptions::Verb::Undo:
        return "Usage: ravelin-cli undo [--servers FILE] [OPTION]... [SNAPSHOT]\n"
               "Brings each server back to its newest snapshot taken before an apply (or to\n"
               "the snapshot numbered SNAPSHOT): its rotation, its settings, and its bans with\n"
               "the time they had left less the time passed since. Exit status as for apply.\n"
               "\n"
               "Options:\n"
               "      --servers FILE      the servers (default the window's servers.txt)\n"
               "      --database URL      the player store the snapshots are in (or\n"
               "                          RAVELIN_DATABASE)\n"
               "      --timeout SECONDS   how long a reply may take before it counts as late\n"
               "      --json              prints each server's outcome as a JSON object on a line\n"
               "  -h, --help              shows this help and exits\n";
    }
    return {};
}

DesiredCommandLine parseDesiredCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment)
{
    enum : int { ServersFile = 256, DesiredFile, Database, Canary, Wait, MaxDrop, TimeoutOption, JsonOutput };
    static const option kDesiredOptions[] = {
        {"servers", required_argument, nullptr, ServersFile},
        {"desired", required_argument, nullptr, DesiredFile},
        {"database", required_argument, nullptr, Database},
        {"canary", required_argument, nullptr, Canary},
        {"wait", required_argument, nullptr, Wait},
        {"max-drop", required_argument, nullptr, MaxDrop},
        {"timeout", required_argument, nullptr, TimeoutOption},
        {"json", no_argument, nullptr, JsonOutput},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    DesiredCommandLine result;
    DesiredOptions& options = result.options;
    const QByteArray verb = arguments.value(0);
    options.verb = verb == "apply" ? DesiredOptions::Verb::Apply
        : verb == "undo"           ? DesiredOptions::Verb::Undo
                                   : DesiredOptions::Verb::Plan;
    if (environment.database)
        options.database = QString::fromLocal8Bit(*environment.database);
    const QByteArray help = verb + " --help";
    const bool applying = options.verb == DesiredOptions::Verb::Apply;
    OptionReader reader(arguments, ":h", kDesiredOptions);
    int option;
    while ((option = reader.next()) != -1) {
        const QByteArray& value = reader.value();
        switch (option) {
        case 'h': return stop(0, desiredHelpText(options.verb), false);
        case ServersFile: options.serversFile = QString::fromLocal8Bit(value); break;
        case DesiredFile:
            if (options.verb == DesiredOptions::Verb::Undo)
                return usageError("undo takes no --desired: it goes back to a snapshot", help);
            options.desiredFile = QString::fromLocal8Bit(value);
            break;
        case Database: options.database = QString::fromLocal8Bit(value); break;
        case Canary:
        case Wait:
        case MaxDrop:
            if (!applying)
                return usageError("--canary, --wait and --max-drop are options of apply", help);
            if (option == Canary) {
                options.canary = QString::fromLocal8Bit(value);
            } else if (option == Wait) {
                bool ok = false;
                const double minutes = value.toDouble(&ok);
                if (!ok || minutes < 0 || minutes > 1440)
                    return usageError("the wait must be a number of minutes from 0 to 1440, not '" + value + "'", help);
                options.wait = std::chrono::milliseconds(qint64(minutes * 60000));
            } else {
                const auto percent = list_fields::wholeNumber(value);
                if (!percent || *percent < 0 || *percent > 100)
                    return usageError("the drop must be a whole percentage from 0 to 100, not '" + value + "'", help);
                options.maxDropPercent = int(*percent);
            }
            break;
        case TimeoutOption:
            if (const std::optional<Stop> mistake = readTimeout(value, help, options.replyTimeout))
                return *mistake;
            break;
        case JsonOutput: options.json = true; break;
        default: return usageError(reader.mistake(option), help);
        }
    }
    const QList<QByteArray> rest = reader.rest();
    if (options.verb == DesiredOptions::Verb::Undo && rest.size() == 1) {
        const auto id = list_fields::wholeNumber(rest.first());
        if (!id || *id < 1)
            return usageError("a SNAPSHOT is the number a snapshot has in the store, not '" + rest.first() + "'", help);
        options.snapshot = *id;
    } else if (!rest.isEmpty()) {
        return usageError(verb + " takes no commands, not '" + rest.first() + "'", help);
    }
    if (options.canary.isEmpty() && options.wait.count() > 0)
        return usageError("--wait is how long the canary is watched: give --canary NAME too", help);
    return result;
}

QByteArray historyHelpText()
{
    return "Usage: ravelin-cli history [OPTION]... QUERY\n"
           "Prints what the player store knows of every player QUERY finds: a part of a\n"
           "name (case does not matter), a 32-digit key hash, or an address. For each:\n"
           "the hash, every name and address with when it was first and last seen, the\n"
           "sessions on each server, the notes, and the bans placed on the hash.\n"
           "\n"
           "Options:\n"
           "      --database URL      the store (or RAVELIN_DATABASE; default\n"
           "                          ~/.local/share/ravelin/players.sqlite)\n"
           "      --limit N           prints at most N players (default 50)\n"
           "      --json              prints each player as a JSON object on a line\n"
           "  -h, --help              shows this help and exits\n";
}

HistoryCommandLine parseHistoryCommandLine(const QList<QByteArray>& arguments, const CliEnvironment& environment)
{
    enum : int { Database = 256, Limit, JsonOutput };
    static const option kHistoryOptions[] = {
        {"database", required_argument, nullptr, Database},
        {"limit", required_argument, nullptr, Limit},
        {"json", no_argument, nullptr, JsonOutput},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    HistoryCommandLine result;
    HistoryOptions& options = result.options;
    if (environment.database)
        options.database = QString::fromLocal8Bit(*environment.database);
    const QByteArray help = "history --help";
    OptionReader reader(arguments, ":h", kHistoryOptions);
    int option;
    while ((option = reader.next()) != -1) {
        const QByteArray& value = reader.value();
        switch (option) {
        case 'h': return stop(0, historyHelpText(), false);
        case Database: options.database = QString::fromLocal8Bit(value); break;
        case Limit: {
            const auto limit = list_fields::wholeNumber(value);
            if (!limit || *limit < 1 || *limit > 100000)
                return usageError("the limit must be a whole number from 1 to 100000, not '" + value + "'", help);
            options.limit = int(*limit);
            break;
        }
        case JsonOutput: options.json = true; break;
        default: return usageError(reader.mistake(option), help);
        }
    }
    const QList<QByteArray> rest = reader.rest();
    if (rest.size() != 1 || rest.first().trimmed().isEmpty())
        return usageError("give one QUERY: a part of a name, a key hash or an address", help);
    options.query = rest.first().trimmed();
    return result;
}
