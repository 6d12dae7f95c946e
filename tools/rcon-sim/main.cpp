// rcon-sim: a practice game server for trying Ravelin without a real one. It
// prints every line it receives and every chat message, and stops cleanly on
// SIGINT or SIGTERM.

#include "sim_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

// Only a write is safe in a signal handler; the event loop does the rest.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// Lines may hold any byte; control bytes and bytes above 0x7E print escaped.
QByteArray printable(const QByteArray& bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\')
            out += c;
        else if (b == '\\')
            out += "\\\\";
        else
            out += "\\x" + QByteArray::number(b, 16).rightJustified(2, '0');
    }
    return out;
}

void print(const QByteArray& line)
{
    std::fputs((line + '\n').constData(), stdout);
    std::fflush(stdout);
}

bool readCount(const QCommandLineParser& parser, const QString& name, int low, int high, int& value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    if (ok && value >= low && value <= high)
        return true;
    std::fprintf(stderr, "%s: --%s must be a whole number from %d to %d\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(name), low, high);
    return false;
}

// Seconds, fractions allowed so that time can be compressed; gives milliseconds.
bool readSeconds(const QCommandLineParser& parser, const QString& name, double high, int& ms)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double seconds = parser.value(name).toDouble(&ok);
    if (ok && seconds >= 0 && seconds <= high && (seconds == 0 || seconds >= 0.001)) {
        ms = int(seconds * 1000 + 0.5);
        return true;
    }
    std::fprintf(stderr, "%s: --%s must be 0 or a number of seconds from 0.001 to %g\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(name), high);
    return false;
}

QByteArray describe(const SimPlayer& p)
{
    return QByteArray::number(p.id) + " \"" + printable(p.name) + "\" " + printable(p.address) + ':'
        + QByteArray::number(p.port) + ' ' + printable(p.keyHash);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Called by the name it was started under: rcon-sim in a build,
    // ravelin-practice-server when installed.
    QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
    const QByteArray self = QCoreApplication::applicationName().toLocal8Bit();

    QCommandLineParser parser;
    parser.setApplicationDescription("A practice Battlefield 2 remote console on 127.0.0.1, for trying Ravelin.");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "Port to listen on; 0 takes any free port (default 4711).", "port", "4711"},
        {"password", "Remote console password (default secret).", "password", "secret"},
        {"players", "Players on the server (default 8).", "n", "8"},
        {"bans", "Banned keys (default 4).", "n", "4"},
        {"maps", "Maps in the rotation (default 6).", "n", "6"},
        {"chunk-size", "Split every reply into writes of this many bytes; 0 does not split.", "bytes", "0"},
        {"chunk-delay-ms", "Pause after every write, in milliseconds.", "ms", "0"},
        {"instant", "Answer every line at once, instead of one line per frame as the stock server does."},
        {"frame-ms", "The stock server's frame, in milliseconds (default 30).", "ms", "30"},
        {"instances", "Runs this many servers, on consecutive ports from --port (default 1).", "n", "1"},
        {"stall-after",
         "Stops for --stall-ms once, after handling the n-th line (the login included), "
         "before replying to it, as a map change does (default 0: never).",
         "n", "0"},
        {"stall-ms", "How long the stall of --stall-after lasts, in milliseconds (default 12000).", "ms", "12000"},
        {"churn-s",
         "Every this many seconds one player leaves and a recruit joins; now and then one renames or "
         "changes address (default 0: never).",
         "seconds", "0"},
        {"seed", "Seed of the churn; the n-th server takes seed + n (default 1).", "n", "1"},
    });
    parser.process(app);

    RconSimOptions options;
    int port = 4711;
    int instances = 1;
    int seed = 1;
    if (!readCount(parser, "port", 0, 65535, port) || !readCount(parser, "players", 0, 100, options.players)
        || !readCount(parser, "bans", 0, 10000, options.bans) || !readCount(parser, "maps", 0, 1000, options.maps)
        || !readCount(parser, "chunk-size", 0, 1 << 20, options.chunkSize)
        || !readCount(parser, "chunk-delay-ms", 0, 60000, options.chunkDelayMs)
        || !readCount(parser, "frame-ms", 1, 10000, options.frameMs)
        || !readCount(parser, "instances", 1, 1000, instances)
        || !readCount(parser, "stall-after", 0, 1 << 30, options.stallAfter)
        || !readCount(parser, "stall-ms", 0, 3600000, options.stallMs)
        || !readSeconds(parser, "churn-s", 86400, options.churnMs) || !readCount(parser, "seed", 0, 1 << 30, seed))
        return 2;
    if (options.stallAfter > 0 && !parser.isSet("stall-ms"))
        options.stallMs = 12000;
    if (parser.isSet("instant"))
        options.timing = SimTiming::Instant;
    options.port = quint16(port);
    if (parser.isSet("password"))
        options.password = parser.value("password").toLocal8Bit();

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        std::perror((self + ": socketpair").constData());
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto taken = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // Several servers on consecutive ports (or on any free ports with --port 0),
    // each with a game of its own; their lines are marked with their number.
    std::vector<std::unique_ptr<RconSimServer>> servers;
    for (int i = 0; i < instances; ++i) {
        RconSimOptions own = options;
        own.port = port == 0 ? 0 : quint16(port + i);
        own.churnSeed = quint32(seed) + quint32(i);
        auto& server = *servers.emplace_back(std::make_unique<RconSimServer>(own));
        const QByteArray mark = instances > 1 ? "[" + QByteArray::number(i) + "] " : QByteArray();
        QObject::connect(&server, &RconSimServer::lineReceived,
                         [mark](const QByteArray& line) { print(mark + "<< " + printable(line)); });
        QObject::connect(&server, &RconSimServer::chatMessage, [mark](int team, const QByteArray& text) {
            print(mark + (team == 0 ? QByteArray("chat [all]: ") : "chat [team " + QByteArray::number(team) + "]: ")
                  + printable(text));
        });
        QObject::connect(&server, &RconSimServer::churned, [mark](const SimChurn& step) {
            if (step.left)
                print(mark + "-- left: " + describe(*step.left));
            if (step.joined)
                print(mark + "-- joined: " + describe(*step.joined));
            if (step.renamed)
                print(mark + "-- renamed: " + describe(*step.renamed));
            if (step.moved)
                print(mark + "-- moved: " + describe(*step.moved));
        });
        QObject::connect(&server, &RconSimServer::clientConnected, [mark] { print(mark + "-- client connected"); });
        QObject::connect(&server, &RconSimServer::clientDisconnected,
                         [mark] { print(mark + "-- client disconnected"); });
        if (!server.listen()) {
            std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d: %s\n", self.constData(), int(own.port),
                         qPrintable(server.errorString()));
            return 1;
        }
        print(self + " listening on 127.0.0.1:" + QByteArray::number(server.port()) + ", password \""
              + printable(options.password) + "\"");
    }

    const int result = QCoreApplication::exec();
    print(self + " stopped");
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    return result;
}
