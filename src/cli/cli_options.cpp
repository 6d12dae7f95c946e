#include "cli/cli_options.h"

#include "admin/list_fields.h"

#include <cmath>

namespace {

constexpr char kProgram[] = "ravelin-cli";
// The longest reply timeout that still fits the session's timer.
constexpr double kMaxTimeoutSeconds = 86400;

CliCommandLine stop(int status, const QByteArray& text, bool isError)
{
    CliCommandLine line;
    line.exitStatus = status;
    line.output = text;
    line.outputIsError = isError;
    return line;
}

CliCommandLine usageError(const QByteArray& message)
{
    return stop(2, QByteArray(kProgram) + ": " + message + "\nTry '" + kProgram + " --help'.\n", true);
}

bool isPasswordOption(const QByteArray& argument)
{
    return argument == "-p" || argument == "--password" || argument.startsWith("--password=")
        || (argument.startsWith("-p") && !argument.startsWith("--"));
}

std::optional<std::chrono::milliseconds> readTimeout(const QByteArray& text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > kMaxTimeoutSeconds)
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(1, std::llround(seconds * 1000)));
}

} // namespace

QByteArray cliHelpText()
{
    return "Usage: ravelin-cli -H HOST [-P PORT] [OPTION]... [COMMAND]...\n"
           "       ravelin-cli --servers FILE [OPTION]... [COMMAND]...\n"
           "Sends console commands to a Battlefield 2 server's remote console and prints\n"
           "each reply. Each COMMAND is sent as it is given (\"exec admin.listPlayers\").\n"
           "Without a COMMAND, commands are read from standard input, one a line, or\n"
           "typed at a prompt when standard input is a terminal.\n"
           "\n"
           "Options:\n"
           "  -H, --host HOST         the server's address or name\n"
           "  -P, --port PORT         its remote console port (default 4711)\n"
           "      --servers FILE      runs the commands on every server of FILE at once;\n"
           "                          a line is: NAME HOST PORT [PASSWORD-FILE]\n"
           "      --password-file FILE  takes the password from the first line of FILE\n"
           "      --timeout SECONDS   how long a reply may take before it counts as late\n"
           "                          (default 10); a late reply is still awaited\n"
           "      --give-up SECONDS   how long without a reply before the connection is\n"
           "                          closed (default 60, never below --timeout)\n"
           "      --json              prints the replies as JSON, one object a line\n"
           "  -v, --verbose           prints every line of the session's log on standard error\n"
           "  -h, --help              shows this help and exits\n"
           "      --version           shows the version and exits\n"
           "\n"
           "The password comes from RAVELIN_PASSWORD, --password-file, or a prompt on the\n"
           "terminal; never from the command line. With --servers, a server's own\n"
           "RAVELIN_PASSWORD_<NAME> or password file comes first.\n"
           "\n"
           "Exit status: 0 every command answered, 1 login failed, 2 usage error,\n"
           "3 connection failed or lost, 4 a reply timed out. With --servers, the worst\n"
           "of the servers' (3, then 1, then 4).\n"
           "See ravelin-cli(1).\n";
}

CliCommandLine parseCliCommandLine(const QList<QByteArray>& arguments, const QByteArray& version)
{
    CliCommandLine result;
    CliOptions& options = result.options;
    bool hostSet = false;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments[i];
        if (optionsEnded || !argument.startsWith('-') || argument == "-") {
            options.commands.append(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (isPasswordOption(argument)) {
            return usageError("a password is never taken from the command line, where other users can see it;\n"
                              "use RAVELIN_PASSWORD, --password-file FILE or the prompt");
        }
        // An option with a value: "--name VALUE", "--name=VALUE", or "-X VALUE".
        QByteArray name = argument;
        std::optional<QByteArray> value;
        if (argument.startsWith("--") && argument.contains('=')) {
            name = argument.left(argument.indexOf('='));
            value = argument.mid(argument.indexOf('=') + 1);
        }
        const auto takeValue = [&]() -> std::optional<QByteArray> {
            if (value)
                return value;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        const bool takesValue = name == "-H" || name == "--host" || name == "-P" || name == "--port"
            || name == "--servers" || name == "--password-file" || name == "--timeout" || name == "--give-up";
        if (!takesValue && value)
            return usageError("option '" + name + "' takes no value");
        std::optional<QByteArray> given;
        if (takesValue && !(given = takeValue()))
            return usageError("option '" + name + "' needs a value");

        if (name == "-h" || name == "--help") {
            return stop(0, cliHelpText(), false);
        } else if (name == "--version") {
            return stop(0, QByteArray(kProgram) + ' ' + version + '\n', false);
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "-v" || name == "--verbose") {
            options.verbose = true;
        } else if (name == "-H" || name == "--host") {
            if (given->isEmpty())
                return usageError("the host is empty");
            options.host = *given;
            hostSet = true;
        } else if (name == "-P" || name == "--port") {
            const auto port = list_fields::wholeNumber(*given);
            if (!port || *port < 1 || *port > 65535 || given->trimmed() != *given)
                return usageError("the port must be a whole number from 1 to 65535, not '" + *given + "'");
            options.port = quint16(*port);
        } else if (name == "--servers") {
            options.serversFile = QString::fromLocal8Bit(*given);
        } else if (name == "--password-file") {
            options.passwordFile = QString::fromLocal8Bit(*given);
        } else if (name == "--timeout") {
            const auto timeout = readTimeout(*given);
            if (!timeout)
                return usageError("the timeout must be a number of seconds above 0 and at most 86400, not '" + *given
                                  + "'");
            options.replyTimeout = *timeout;
        } else if (name == "--give-up") {
            const auto timeout = readTimeout(*given);
            if (!timeout)
                return usageError("the give-up time must be a number of seconds above 0 and at most 86400, not '"
                                  + *given + "'");
            options.giveUpTimeout = *timeout;
        } else {
            return usageError("unknown option '" + argument + "'");
        }
    }
    if (hostSet && !options.serversFile.isEmpty())
        return usageError("give either -H HOST or --servers FILE, not both");
    if (!hostSet && options.serversFile.isEmpty())
        return usageError("no server: give -H HOST or --servers FILE");
    return result;
}
