#include "cli/password_source.h"

#include "storage/password_store.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The most of a password file that is read.
constexpr qsizetype kMaxPasswordFile = 64 * 1024;

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

// What the keyring keeps under `key`, waiting for it at most `timeout` (a
// keyring may first ask its user to unlock it).
std::optional<QByteArray> readKeyring(PasswordStore& keyring, const QString& key, std::chrono::milliseconds timeout)
{
    // The answer may come after the wait is over: it then goes nowhere.
    struct Wait
    {
        std::optional<QByteArray> kept;
        bool answered = false;
        QEventLoop* loop = nullptr;
    };
    const auto wait = std::make_shared<Wait>();
    keyring.read(key, [wait](std::optional<QByteArray> password) {
        wait->kept = std::move(password);
        wait->answered = true;
        if (wait->loop)
            wait->loop->quit();
    });
    if (!wait->answered) {
        QEventLoop loop;
        wait->loop = &loop;
        QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
        loop.exec();
        wait->loop = nullptr;
    }
    return wait->kept;
}

} // namespace

PasswordResult readPasswordFile(const QString& path, std::chrono::milliseconds timeout)
{
    const QByteArray name = QFile::encodeName(path);
    const auto failure = [&](int error) {
        return PasswordResult{std::nullopt, name + ": " + QByteArray(std::strerror(error))};
    };
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failure(errno);
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat status
    {
    };
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode))
        return failure(EISDIR);
    // A password is one short line; what follows it is never read. A FIFO
    // with no writer yet is not readable, and waits for one up to the timeout.
    QElapsedTimer waited;
    waited.start();
    QByteArray text;
    while (!text.contains('\n') && text.size() < kMaxPasswordFile) {
        pollfd watched{fd, POLLIN, 0};
        const qint64 left = timeout.count() - waited.elapsed();
        const int ready = left > 0 ? ::poll(&watched, 1, int(std::min<qint64>(left, INT_MAX))) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return failure(errno);
        if (ready == 0) {
            const double seconds = timeout.count() / 1000.0;
            return {std::nullopt,
                    name + ": no password came within " + QByteArray::number(seconds)
                        + (seconds == 1 ? " second" : " seconds")};
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return failure(errno);
        if (got == 0)
            break;
        text.append(buffer, qsizetype(got));
    }
    return {firstLine(text.left(kMaxPasswordFile)), {}};
}

QByteArray withoutLineEnd(QByteArray password)
{
    if (password.endsWith('\n'))
        password.chop(1);
    if (password.endsWith('\r'))
        password.chop(1);
    return password;
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

PasswordResult passwordForServer(const PasswordResult& given, const TerminalText& terminal)
{
    if (!given.password)
        return given;
    TerminalText::ServerBytes bytes = terminal.toServer(*given.password);
    if (!bytes.problem.isEmpty())
        return {std::nullopt, "the password cannot be sent: " + bytes.problem};
    return {std::move(bytes.bytes), {}};
}

PasswordResult findPassword(const PasswordSources& sources, const PasswordReading& reading)
{
    const auto given = [&](const PasswordResult& result) { return passwordForServer(result, reading.terminal); };
    if (!sources.ownVariable.isEmpty()) {
        if (auto own = variable(sources.ownVariable.constData()))
            return given({withoutLineEnd(*own), {}});
    }
    if (!sources.ownFile.isEmpty())
        return given(readPasswordFile(sources.ownFile, reading.timeout));
    if (!sources.keyringKey.isEmpty() && reading.keyring && reading.keyring->isAvailable()) {
        if (auto kept = readKeyring(*reading.keyring, sources.keyringKey, reading.timeout))
            return {kept, {}};
    }
    if (!sources.commonFile.isEmpty())
        return given(readPasswordFile(sources.commonFile, reading.timeout));
    if (auto common = variable("RAVELIN_PASSWORD"))
        return given({withoutLineEnd(*common), {}});
    return {};
}
