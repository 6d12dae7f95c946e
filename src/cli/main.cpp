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
#include "core/secrets.h"
#include "session/console_session.h"

#include <QCoreApplication>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

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

} // namespace

int main(int argc, char** argv)
{
    // Before a password is read from the environment, a file or the terminal.
    secrets::keepOutOfCoreDumps();
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const CliCommandLine commandLine = parseCliCommandLine(arguments, RAVELIN_VERSION);
    if (commandLine.exitStatus) {
        std::fputs(commandLine.output.constData(), commandLine.outputIsError ? stderr : stdout);
        return *commandLine.exitStatus;
    }
    const CliOptions& options = commandLine.options;
    // A command the servers would not take stops the run before anything is sent.
    for (const QByteArray& command : options.commands) {
        if (const QByteArray problem = commandLengthProblem(command); !problem.isEmpty())
            return usageFailure(problem);
    }

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RAVELIN_VERSION));
    allowManyConnections();

    QList<ServerTarget> targets;
    QList<PasswordSources> sources;
    if (!options.serversFile.isEmpty()) {
        const ServerList list = readServerList(options.serversFile);
        if (!list.error.isEmpty())
            return usageFailure(list.error);
        for (const ServerLine& line : list.servers) {
            targets.append({line.name, line.host, line.port, {}});
            sources.append({passwordVariable(line.name), line.passwordFile, options.passwordFile});
        }
    } else {
        targets.append({{}, options.host, options.port, {}});
        sources.append({{}, {}, options.passwordFile});
    }

    // The servers without a password of their own share the one typed at the prompt.
    QList<qsizetype> unanswered;
    for (qsizetype i = 0; i < targets.size(); ++i) {
        const PasswordResult found = findPassword(sources[i]);
        if (!found.error.isEmpty())
            return usageFailure(found.error);
        if (found.password)
            targets[i].password = *found.password;
        else
            unanswered.append(i);
    }
    if (!unanswered.isEmpty()) {
        const QByteArray prompt = options.serversFile.isEmpty()
            ? "Password for " + options.host + ": "
            : "Password for " + QByteArray::number(unanswered.size()) + " server(s) without one of their own: ";
        const PasswordResult typed = promptForPassword(prompt);
        if (!typed.password)
            return usageFailure(typed.error);
        for (const qsizetype i : unanswered)
            targets[i].password = *typed.password;
    }

    RunSettings settings;
    settings.format = options.json ? ReplyFormat::Json : ReplyFormat::Text;
    settings.replyTimeout = options.replyTimeout;
    settings.giveUpTimeout = options.giveUpTimeout;
    settings.verbose = options.verbose;

    Output output(stdout, stderr);
    CommandFeed feed;
    ServerGroup group(targets, feed, output, settings);
    QObject::connect(&group, &ServerGroup::finished, &application, &QCoreApplication::quit, Qt::QueuedConnection);

    std::unique_ptr<QObject> commandSource;
    if (!options.commands.isEmpty()) {
        for (const QByteArray& command : options.commands)
            feed.append(command);
        feed.close();
    } else if (::isatty(STDIN_FILENO)) {
        const QByteArray prompt = options.serversFile.isEmpty()
            ? options.host + ':' + QByteArray::number(options.port) + "> "
            : QByteArray::number(targets.size()) + " servers> ";
        commandSource = std::make_unique<InteractivePrompt>(prompt, feed, group);
    } else if (::fcntl(STDIN_FILENO, F_GETFD) != -1) {
        commandSource = std::make_unique<InputLines>(STDIN_FILENO, feed);
    } else {
        feed.close(); // no standard input at all: no commands
    }

    group.start();
    QCoreApplication::exec();
    commandSource.reset();

    if (!options.serversFile.isEmpty()) {
        for (const QByteArray& line : group.summary())
            output.writeMessage(line);
    }
    output.flushReplies();
    return int(feed.refusedAny() ? worse(group.status(), ExitStatus::Usage) : group.status());
}
