// ravelin-cli: the remote console from a terminal or a script. The command
// line, the servers and their passwords are settled before the event loop
// starts; then every server runs its commands at once, and the run ends with
// the worst server's exit status.

#include "cli/cli_options.h"
#include "cli/command_feed.h"
#include "cli/input_lines.h"
#include "cli/interactive_prompt.h"
#include "cli/password_source.h"
#include "cli/server_group.h"
#include "cli/server_list.h"
#include "cli/terminal_text.h"
#include "core/secrets.h"
#include "storage/audit_log.h"
#include "storage/command_history.h"
#include "storage/file_locations.h"
#include "storage/keyring_password_store.h"
#include "storage/saved_servers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace {

int usageFailure(const QByteArray& message)
{
    std::fprintf(stderr, "ravelin-cli: %s\n", message.constData());
    return int(ExitStatus::Usage);
}

// Each server holds a socket; a long servers file must not run out of them.
void allowManyConnections()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

enum class StandardInput { Closed, Empty, Terminal, Other };

// What standard input is. A closed one is taken by /dev/null at once: the
// next file the program opens (Qt's own event descriptor) must not become
// descriptor 0 and be read as the commands.
StandardInput claimStandardInput()
{
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1) {
        ::open("/dev/null", O_RDONLY); // takes the lowest free descriptor, 0
        return StandardInput::Closed;
    }
    if (::isatty(STDIN_FILENO))
        return StandardInput::Terminal;
    struct stat input
    {
    };
    struct stat null
    {
    };
    if (::fstat(STDIN_FILENO, &input) == 0 && S_ISCHR(input.st_mode) && ::stat("/dev/null", &null) == 0
        && input.st_rdev == null.st_rdev)
        return StandardInput::Empty;
    return StandardInput::Other;
}

LocationFolders userFolders()
{
    return standardFolders(QString(), QDir::currentPath());
}

// The file -S and --list-servers read: --servers FILE, or the window's own.
QString savedServersFile(const CliOptions& options)
{
    return options.serversFile.isEmpty() ? savedServersLocation(userFolders()) : options.serversFile;
}

int listServers(const CliOptions& options, const TerminalText& terminal)
{
    const QString path = savedServersFile(options);
    if (options.serversFile.isEmpty() && !QFileInfo::exists(path)) {
        std::fprintf(stderr, "ravelin-cli: no saved servers (%s)\n", QFile::encodeName(path).constData());
        return 0;
    }
    const ServerList list = readServerList(path);
    if (!list.error.isEmpty())
        return usageFailure(list.error);
    for (const ServerLine& server : list.servers) {
        const QByteArray line = terminal.toTerminal(server.name.toUtf8() + '\t' + server.host + '\t'
                                                    + QByteArray::number(server.port) + '\n');
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return 0;
}

struct Server
{
    ServerTarget target;
    PasswordSources sources;
};

// The servers of the run, or why there are none.
std::variant<QList<Server>, QByteArray> chooseServers(const CliOptions& options, const TerminalText& terminal)
{
    const auto fromLine = [&](const ServerLine& line, bool named) {
        const SavedServer saved{{}, line.host, QByteArray::number(line.port)};
        return Server{{named ? line.name : QString(), line.host, line.port, {}},
                      {passwordVariable(line.name), line.passwordFile, saved.keyringKey(), options.passwordFile}};
    };
    QList<Server> servers;
    if (!options.serverName.isEmpty()) {
        const QString path = savedServersFile(options);
        const QString name = terminal.toUnicode(options.serverName);
        if (!QFileInfo::exists(path))
            return "no server is called '" + name.toUtf8() + "': " + QFile::encodeName(path) + " does not exist";
        const ServerList list = readServerList(path);
        if (!list.error.isEmpty())
            return list.error;
        const ServerLine* line = findServer(list, name);
        if (!line) {
            return QFile::encodeName(path) + ": no server is called '" + name.toUtf8()
                + "' (ravelin-cli --list-servers shows them)";
        }
        servers.append(fromLine(*line, false));
    } else if (!options.serversFile.isEmpty()) {
        const ServerList list = readServerList(options.serversFile);
        if (!list.error.isEmpty())
            return list.error;
        for (const ServerLine& line : list.servers)
            servers.append(fromLine(line, true));
    } else {
        servers.append(Server{{{}, options.host, options.port, {}}, {{}, {}, {}, options.passwordFile}});
    }
    return servers;
}

// Gives every server its password; the servers without one of their own
// share the one typed at the prompt. Why not, when they cannot all have one.
QByteArray findPasswords(QList<Server>& servers, const CliOptions& options, const PasswordReading& reading)
{
    QList<qsizetype> unanswered;
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const PasswordResult found = findPassword(servers[i].sources, reading);
        if (!found.error.isEmpty())
            return found.error;
        if (found.password)
            servers[i].target.password = *found.password;
        else
            unanswered.append(i);
    }
    if (!unanswered.isEmpty()) {
        const QByteArray prompt = servers.size() == 1
            ? "Password for " + servers[0].target.host + ": "
            : "Password for " + QByteArray::number(unanswered.size()) + " server(s) without one of their own: ";
        const PasswordResult typed = passwordForServer(promptForPassword(prompt), reading.terminal);
        if (!typed.password)
            return typed.error;
        for (const qsizetype i : unanswered)
            servers[i].target.password = *typed.password;
    }
    if (options.emptyPasswordAllowed)
        return {};
    for (const Server& server : servers) {
        if (server.target.password.isEmpty()) {
            const QByteArray which = server.target.name.isEmpty() ? server.target.host : server.target.name.toUtf8();
            return "the password for " + which + " is empty; give --empty-password if that is meant";
        }
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    // Before a password is read from the environment, a file or the terminal.
    secrets::keepOutOfCoreDumps();
    const StandardInput input = claimStandardInput();
    const TerminalText terminal = TerminalText::fromLocale();
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const CliCommandLine commandLine = parseCliCommandLine(arguments, RAVELIN_VERSION, CliEnvironment::fromProcess());
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }
    const CliOptions& options = commandLine.options;
    if (options.listServers)
        return listServers(options, terminal);
    // No command given and none to read: nothing to do.
    if (options.commands.isEmpty() && (input == StandardInput::Closed || input == StandardInput::Empty))
        return int(ExitStatus::Answered);

    // A command the servers would not take stops the run before anything is sent.
    CommandFeed feed(terminal);
    for (const QByteArray& command : options.commands) {
        if (const QByteArray problem = feed.append(command); !problem.isEmpty())
            return usageFailure(problem);
    }

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));
    allowManyConnections();

    auto chosen = chooseServers(options, terminal);
    if (const auto* error = std::get_if<QByteArray>(&chosen))
        return usageFailure(*error);
    QList<Server>& servers = std::get<QList<Server>>(chosen);
    KeyringPasswordStore keyring;
    if (const QByteArray error = findPasswords(servers, options, {options.replyTimeout, &keyring, terminal});
        !error.isEmpty())
        return usageFailure(error);
    QList<ServerTarget> targets;
    for (const Server& server : servers)
        targets.append(server.target);

    const LocationFolders folders = userFolders();
    std::unique_ptr<AuditLog> audit;
    if (options.audit) {
        audit = std::make_unique<AuditLog>(folders.userStateDir);
        audit->removeOldFiles();
    }
    RunSettings settings;
    settings.format = options.json ? ReplyFormat::Json : ReplyFormat::Text;
    settings.replyTimeout = options.replyTimeout;
    settings.giveUpTimeout = options.giveUpTimeout;
    settings.delay = options.delay;
    settings.verbose = options.verbose;
    settings.audit = audit.get();

    Output output(stdout, stderr, terminal);
    ServerGroup group(targets, feed, output, settings);
    QObject::connect(&group, &ServerGroup::finished, &application, &QCoreApplication::quit, Qt::QueuedConnection);

    std::unique_ptr<CommandHistory> history;
    std::unique_ptr<QObject> commandSource;
    if (!options.commands.isEmpty()) {
        feed.close();
    } else if (input == StandardInput::Terminal) {
        history = std::make_unique<CommandHistory>(QDir(folders.userStateDir).filePath(QStringLiteral("cli_history")));
        const QByteArray prompt = targets.size() == 1
            ? targets[0].host + ':' + QByteArray::number(targets[0].port) + "> "
            : QByteArray::number(targets.size()) + " servers> ";
        commandSource = std::make_unique<InteractivePrompt>(prompt, feed, group, history.get(),
                                                            targets.size() == 1 ? targets[0].password : QByteArray());
    } else {
        commandSource = std::make_unique<InputLines>(STDIN_FILENO, feed);
    }

    group.start();
    QCoreApplication::exec();
    commandSource.reset();

    if (options.serverName.isEmpty() && !options.serversFile.isEmpty()) {
        for (const QByteArray& line : group.summary())
            output.writeMessage(line);
    }
    if (audit) {
        audit->flush();
        if (audit->droppedLines() > 0) {
            output.writeMessage("ravelin-cli: " + QByteArray::number(audit->droppedLines())
                                + " lines were not written to the audit log: " + audit->dropReason());
        }
    }
    output.flushReplies();
    return int(feed.refusedAny() ? worse(group.status(), ExitStatus::Usage) : group.status());
}
