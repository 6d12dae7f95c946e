// ravelin-cli: the remote console from a terminal or a script. The command
// line, the servers and their passwords are settled before the event loop
// starts; then every server runs its commands at once, and the run ends with
// the worst server's exit status.

#include "cli/automation_main.h"
#include "cli/cli_options.h"
#include "cli/command_feed.h"
#include "cli/desired_main.h"
#include "cli/history_main.h"
#include "cli/input_lines.h"
#include "cli/interactive_prompt.h"
#include "cli/password_source.h"
#include "cli/server_choice.h"
#include "cli/server_group.h"
#include "cli/server_list.h"
#include "cli/terminal_text.h"
#include "cli/watch_main.h"
#include "core/secrets.h"
#include "storage/audit_log.h"
#include "storage/command_history.h"
#include "storage/file_locations.h"
#include "storage/keyring_password_store.h"

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

int listServers(const CliOptions& options, const TerminalText& terminal)
{
    const QString path = savedServersFile(options.serversFile);
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
    if (arguments.size() > 1 && arguments[1] == "watch")
        return watchMain(arguments.mid(1), argc, argv, terminal);
    if (arguments.size() > 1 && (arguments[1] == "plan" || arguments[1] == "apply" || arguments[1] == "undo"))
        return desiredMain(arguments.mid(1), argc, argv, terminal);
    if (arguments.size() > 1 && arguments[1] == "automation")
        return automationMain(arguments.mid(1));
    if (arguments.size() > 1 && arguments[1] == "history")
        return historyMain(arguments.mid(1), argc, argv, terminal);
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

    auto chosen = chooseServers(
        {options.serverName, options.serversFile, options.host, options.port, options.passwordFile}, terminal);
    if (const auto* error = std::get_if<QByteArray>(&chosen))
        return usageFailure(*error);
    QList<ChosenServer>& servers = std::get<QList<ChosenServer>>(chosen);
    KeyringPasswordStore keyring;
    if (const QByteArray error = findPasswords(servers, options.emptyPasswordAllowed,
                                               {options.replyTimeout, &keyring, terminal});
        !error.isEmpty())
        return usageFailure(error);
    QList<ServerTarget> targets;
    for (const ChosenServer& server : servers)
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
