#include "cli/password_source.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal's settings while echo is off, so that a signal that ends the
// program gives the terminal its echo back.
int promptTerminal = -1;
termios savedSettings{};
struct sigaction savedInterrupt
{
};
struct sigaction savedTermination
{
};

void restoreEchoAndDie(int signal)
{
    ::tcsetattr(promptTerminal, TCSAFLUSH, &savedSettings);
    ::sigaction(SIGINT, &savedInterrupt, nullptr);
    ::sigaction(SIGTERM, &savedTermination, nullptr);
    ::raise(signal);
}

// The environment variable's value, when it is set (an empty one included).
std::optional<QByteArray> variable(const char* name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

QByteArray firstLine(QByteArray text)
{
    const qsizetype lineFeed = text.indexOf('\n');
    if (lineFeed >= 0)
        text.truncate(lineFeed);
    if (text.endsWith('\r'))
        text.chop(1);
    return text;
}

} // namespace

PasswordResult readPasswordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QFile::encodeName(path) + ": " + file.errorString().toLocal8Bit()};
    // A password is one short line; what follows it is never read.
    return {firstLine(file.read(64 * 1024)), {}};
}

PasswordResult promptForPassword(const QByteArray& prompt)
{
    const int terminal = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (terminal < 0) {
        return {std::nullopt,
                "no password: there is no terminal to ask on; set RAVELIN_PASSWORD or use "
                "--password-file FILE"};
    }
    termios settings{};
    const bool isTerminal = ::tcgetattr(terminal, &settings) == 0;
    if (isTerminal) {
        promptTerminal = terminal;
        savedSettings = settings;
        struct sigaction restore
        {
        };
        restore.sa_handler = restoreEchoAndDie;
        sigemptyset(&restore.sa_mask);
        restore.sa_flags = SA_RESETHAND;
        // A signal the program was started to ignore stays ignored.
        ::sigaction(SIGINT, nullptr, &savedInterrupt);
        ::sigaction(SIGTERM, nullptr, &savedTermination);
        if (savedInterrupt.sa_handler != SIG_IGN)
            ::sigaction(SIGINT, &restore, nullptr);
        if (savedTermination.sa_handler != SIG_IGN)
            ::sigaction(SIGTERM, &restore, nullptr);
        termios quiet = settings;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(terminal, TCSAFLUSH, &quiet);
    }
    [[maybe_unused]] auto written = ::write(terminal, prompt.constData(), size_t(prompt.size()));
    QByteArray answer;
    char byte = 0;
    ssize_t got = 0;
    while ((got = ::read(terminal, &byte, 1)) == 1 || (got < 0 && errno == EINTR)) {
        if (got == 1 && byte == '\n')
            break;
        if (got == 1)
            answer.append(byte);
    }
    if (isTerminal) {
        ::tcsetattr(terminal, TCSAFLUSH, &savedSettings);
        ::sigaction(SIGINT, &savedInterrupt, nullptr);
        ::sigaction(SIGTERM, &savedTermination, nullptr);
        promptTerminal = -1;
    }
    ::close(terminal);
    if (got == 0 && answer.isEmpty())
        return {std::nullopt, "no password: the prompt was closed"};
    if (answer.endsWith('\r'))
        answer.chop(1);
    return {answer, {}};
}

PasswordResult findPassword(const PasswordSources& sources)
{
    if (!sources.ownVariable.isEmpty()) {
        if (auto own = variable(sources.ownVariable.constData()))
            return {own, {}};
    }
    if (!sources.ownFile.isEmpty())
        return readPasswordFile(sources.ownFile);
    if (!sources.commonFile.isEmpty())
        return readPasswordFile(sources.commonFile);
    if (auto common = variable("RAVELIN_PASSWORD"))
        return {common, {}};
    return {};
}
