// ravelin-cli: the real program against practice servers at the stock
// server's pace (exit statuses, password sources, JSON, the pipe, many
// servers at once), and the rules it reads its files and cuts lines by.

#include "admin/list_fields.h"
#include "cli/cli_options.h"
#include "cli/output.h"
#include "cli/password_source.h"
#include "cli/reply_printer.h"
#include "cli/server_list.h"
#include "cli/terminal_text.h"
#include "cli/watch_config.h"
#include "core/json_line.h"
#include "core/windows1252.h"
#include "sim_server.h"
#include "storage/audit_log.h"
#include "storage/password_store.h"
#include "store/player_store.h"
#include "support/listings.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QDate>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Lines = QList<QByteArray>;

struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// A loopback port where a connect is refused: bound, never listening.
class RefusedPort
{
public:
    RefusedPort()
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0
            && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~RefusedPort() { ::close(fd_); }
    QString port() const { return QString::number(port_); }

private:
    int fd_;
    quint16 port_ = 0;
};

QByteArray writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return bytes;
}

} // namespace

class CliTest : public ::testing::Test
{
protected:
    RconSimServer& addServer(const QByteArray& password = "secret")
    {
        RconSimOptions options;
        options.password = password;
        auto& server = *servers_.emplace_back(std::make_unique<RconSimServer>(options));
        EXPECT_TRUE(server.listen()) << server.errorString().toStdString();
        return server;
    }
    QString port(std::size_t i = 0) const { return QString::number(servers_[i]->port()); }
    // A servers file naming each server on loopback; gives its path.
    QString serversFile(const QList<std::pair<QByteArray, const RconSimServer*>>& named)
    {
        QByteArray list;
        for (const auto& [name, server] : named)
            list += name + " 127.0.0.1 " + QByteArray::number(server->port()) + '\n';
        writeFile(folder_.filePath("servers"), list);
        return folder_.filePath("servers");
    }

    // Runs the program to its end, in a session of its own: with no
    // terminal, a prompt for the password fails instead of waiting.
    Outcome run(const QStringList& arguments, const QMap<QString, QString>& environment = {},
                const QByteArray& input = {})
    {
        QProcess process;
        process.setProcessEnvironment(environmentWith(environment));
        process.setChildProcessModifier([] { ::setsid(); });
        process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), arguments);
        EXPECT_TRUE(process.waitForStarted());
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 60s));
        Outcome outcome;
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.out = process.readAllStandardOutput();
        outcome.err = process.readAllStandardError();
        return outcome;
    }
    // The user's files (the window's servers.txt, the audit log, the history)
    // in this test's folder; a UTF-8 terminal; no password or server given.
    QProcessEnvironment environmentWith(const QMap<QString, QString>& environment) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys()) {
            if (name.startsWith(QStringLiteral("RAVELIN_")))
                env.remove(name);
        }
        env.insert("XDG_CONFIG_HOME", folder_.filePath("config"));
        env.insert("XDG_STATE_HOME", folder_.filePath("state"));
        env.insert("XDG_DATA_HOME", folder_.filePath("data"));
        env.insert("LC_ALL", "C.UTF-8");
        for (auto it = environment.begin(); it != environment.end(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }
    QString writeFileAt(const QString& name, const QByteArray& bytes)
    {
        writeFile(folder_.filePath(name), bytes);
        return folder_.filePath(name);
    }
    QStringList single(const QStringList& more) const
    {
        return QStringList{QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-P"), port()} + more;
    }

    QTemporaryDir folder_;
    std::vector<std::unique_ptr<RconSimServer>> servers_;
};

TEST_F(CliTest, ExitStatusSaysHowTheRunEnded)
{
    addServer();
    const RefusedPort refused;
    const QMap<QString, QString> right{{"RAVELIN_PASSWORD", "secret"}};
    const QMap<QString, QString> wrong{{"RAVELIN_PASSWORD", "guess"}};
    struct Case
    {
        const char* what;
        QStringList arguments;
        QMap<QString, QString> environment;
        int status;
        QByteArray out, errorPart;
    };
    const QString host = QStringLiteral("127.0.0.1");
    const Case cases[] = {
        {"answered", single({"exec sv.serverName"}), right, 0, "Ravelin practice server\n", ""},
        {"no command, empty input", single({}), right, 0, "", ""},
        {"login failed", single({"exec sv.serverName"}), wrong, 1, "", "Authentication Failed\n"},
        {"refused",
         {"-H", host, "-P", refused.port(), "exec sv.serverName"},
         right,
         3,
         "",
         "error 10061: connection refused\n"},
        {"no server", {"exec sv.serverName"}, right, 2, "", "no server: give -H HOST, -S NAME or --servers FILE"},
        {"host from the environment",
         {"exec sv.serverName"},
         {{"RAVELIN_PASSWORD", "secret"}, {"RAVELIN_HOST", host}, {"RAVELIN_PORT", port()}},
         0,
         "Ravelin practice server\n",
         ""},
        {"unsendable character", single({"exec game.sayAll \"\u0142\""}), right, 2, "", "(U+0142) has no byte"},
        {"unknown saved server", {"-S", "Nowhere"}, right, 2, "", "no server is called 'Nowhere'"},
        {"port", {"-H", host, "-P", "70000"}, right, 2, "", "from 1 to 65535, not '70000'"},
        {"timeout", single({"--timeout", "0"}), right, 2, "", "above 0 and at most 86400, not '0'"},
        {"longest timeout", single({"--timeout", "86400", "exec sv.serverName"}), right, 0, "Ravelin practice server\n",
         ""},
        {"timeout too long", single({"--timeout", "86400.001"}), right, 2, "", "not '86400.001'"},
        {"timeout a second too long", single({"--timeout", "86401"}), right, 2, "", "not '86401'"},
        {"give up", single({"--give-up", "-1"}), right, 2, "", "above 0 and at most 86400, not '-1'"},
        {"option", single({"--bogus"}), right, 2, "", "unknown option '--bogus'"},
        {"value", single({"--json=yes"}), right, 2, "", "option '--json' takes no value"},
        {"missing value", single({"--servers"}), right, 2, "", "option '--servers' needs a value"},
        {"servers file", {"--servers", folder_.filePath("none")}, right, 2, "", "none: No such file"},
        {"help", {"--help"}, {}, 0, "", ""},
        {"version", {"--version"}, {}, 0, "ravelin-cli " RAVELIN_VERSION "\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = run(c.arguments, c.environment);
        EXPECT_EQ(outcome.status, c.status) << outcome.err.data();
        if (c.arguments.first() == "--help")
            EXPECT_TRUE(outcome.out.startsWith("Usage: ravelin-cli -H HOST")) << outcome.out.data();
        else
            EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(outcome.err.contains(c.errorPart)) << outcome.err.data();
        if (c.status == 0) {
            EXPECT_EQ(outcome.err, "") << "a run that goes well says nothing on standard error";
        }
    }
}

// A server that stops for longer than the timeout, as during a map change:
// the late list is printed when it comes, in order, the next command waits
// for it (the server never holds two lines), and the run exits 4.
TEST_F(CliTest, ALateReplyIsPrintedInOrderAndTheNextCommandWaitsForIt)
{
    RconSimServer& server = addServer();
    server.setStall(2, 1500);
    const Outcome outcome = run(single({"--timeout", "0.5", "--json", "exec maplist.list", "exec sv.serverName"}),
                                {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 4);
    const QList<QByteArray> lines = outcome.out.split('\n');
    ASSERT_EQ(lines.size(), 1 + server.game().rotation().size() + 3 + 1) << outcome.out.data();
    EXPECT_EQ(lines.first(), R"({"command":"exec maplist.list","type":"timeout"})");
    EXPECT_TRUE(lines[1].contains(R"("type":"map")"));
    EXPECT_EQ(lines.mid(lines.size() - 4),
              Lines({R"({"command":"exec maplist.list","type":"end"})",
                     R"({"command":"exec sv.serverName","type":"text","text":"Ravelin practice server"})",
                     R"({"command":"exec sv.serverName","type":"end"})", ""}));
    EXPECT_EQ(outcome.err, "The server did not answer in time...\n");
    EXPECT_EQ(server.pipelinedLines(), 0);
}

// A server that never answers is given up on: the connection closes (3).
TEST_F(CliTest, AServerSilentPastTheGiveUpTimeIsLeft)
{
    RconSimServer& server = addServer();
    QObject::connect(&server, &RconSimServer::lineReceived, [&](const QByteArray& line) {
        if (line.startsWith("\x02login"))
            server.pauseReading();
    });
    const Outcome outcome = run(single({"--timeout", "0.2", "--give-up", "0.6", "exec sv.serverName"}),
                                {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err,
              "The server did not answer in time...\n"
              "The server has not answered for 0.6 seconds; closing the connection...\n"
              "Disconnected...\n");
}

// The stock server closes the connection for a line of 1,024 bytes or more:
// such a command is never sent. On the command line it stops the run; from a
// pipe it is left out and the others go.
TEST_F(CliTest, ACommandTooLongForTheServerIsRefused)
{
    RconSimServer& server = addServer();
    const QByteArray longest = "exec " + QByteArray(1016, 'x');
    const QByteArray tooLong = longest + 'x';
    const QByteArray said = "The command is too long for the server (1,022 bytes, at most 1,021)...\n";

    Outcome outcome = run(single({"exec sv.serverName", QString::fromLatin1(tooLong)}),
                          {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "ravelin-cli: " + said);
    EXPECT_EQ(server.clientCount() + server.receivedLines().size(), 0) << "nothing was sent";

    outcome = run(single({}), {{"RAVELIN_PASSWORD", "secret"}}, tooLong + "\n" + longest + "\nexec sv.serverName\n");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, said);
    EXPECT_EQ(server.receivedLines().mid(1), Lines({framed(longest), framed("exec sv.serverName")}));
    EXPECT_EQ(server.linesRefused(), 0);
    EXPECT_TRUE(outcome.out.endsWith("Ravelin practice server\n"));
}

TEST_F(CliTest, PasswordComesFromTheEnvironmentOrAFileButNeverTheCommandLine)
{
    RconSimServer& server = addServer();
    const QString file = folder_.filePath("password");
    struct Case
    {
        const char* what;
        QByteArray fileText; // written to `file` when not empty
        QStringList arguments;
        QMap<QString, QString> environment;
        int status;
        QByteArray errorPart;
    };
    const Case cases[] = {
        {"environment", "", {}, {{"RAVELIN_PASSWORD", "secret"}}, 0, ""},
        {"environment with CR LF", "", {}, {{"RAVELIN_PASSWORD", "secret\r\n"}}, 0, ""},
        {"empty password refused", "", {}, {{"RAVELIN_PASSWORD", ""}}, 2, "give --empty-password"},
        {"empty password meant", "", {"--empty-password"}, {{"RAVELIN_PASSWORD", ""}}, 1, "Authentication Failed"},
        {"file, first line", "secret\nsecond line", {"--password-file", file}, {}, 0, ""},
        {"file with CR LF", "secret\r\n", {"--password-file", file}, {}, 0, ""},
        {"file beats environment", "secret\n", {"--password-file", file}, {{"RAVELIN_PASSWORD", "guess"}}, 0, ""},
        {"wrong file", "guess\n", {"--password-file", file}, {}, 1, "Authentication Failed"},
        {"missing file", "", {"--password-file", folder_.filePath("none")}, {}, 2, "none: No such file"},
        {"no terminal to ask on", "", {}, {}, 2, "no terminal"},
        {"--password", "", {"--password", "secret"}, {}, 2, "never taken from the command line"},
        {"--password=", "", {"--password=secret"}, {}, 2, "never taken from the command line"},
        {"-p", "", {"-psecret"}, {}, 2, "never taken from the command line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(file);
        if (!c.fileText.isEmpty())
            writeFile(file, c.fileText);
        server.clearReceivedLines();
        const Outcome outcome = run(single(c.arguments + QStringList{"exec sv.serverName"}), c.environment);
        EXPECT_EQ(outcome.status, c.status) << outcome.err.data();
        EXPECT_TRUE(outcome.err.contains(c.errorPart)) << outcome.err.data();
        EXPECT_EQ(outcome.out, c.status == 0 ? "Ravelin practice server\n" : "");
        if (c.status == 2) {
            EXPECT_EQ(server.receivedLines(), Lines()) << "nothing is sent without a password";
        }
    }
    // A FIFO that nobody writes to is waited on for the timeout, no longer.
    const QString fifo = folder_.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Outcome waited = run(single({"--timeout", "0.5", "--password-file", fifo, "exec sv.serverName"}));
    EXPECT_EQ(waited.status, 2);
    EXPECT_TRUE(waited.err.contains("fifo: no password came within 0.5 seconds")) << waited.err.data();
}

// With no command and nothing to read (standard input closed, or /dev/null),
// there is nothing to do: the run ends at once and connects nowhere.
TEST_F(CliTest, NoCommandAndNothingToReadEndsAtOnce)
{
    RconSimServer& server = addServer();
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "closed" : "/dev/null");
        QProcess process;
        process.setProcessEnvironment(environmentWith({{"RAVELIN_PASSWORD", "secret"}}));
        if (closed) {
            process.setChildProcessModifier([] {
                ::setsid();
                ::close(STDIN_FILENO);
            });
        } else {
            process.setChildProcessModifier([] { ::setsid(); });
            process.setStandardInputFile(QProcess::nullDevice());
        }
        process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), single({}));
        ASSERT_TRUE(WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20s));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().data();
        EXPECT_EQ(server.receivedLines(), Lines());
    }
}

// A server the window saved is reached by its name, blanks and all. The
// command goes out in the bytes the window sends for the same text, the reply
// comes back as the characters the window shows, and the audit log, in the
// window's folder and format, records the action unless told not to.
TEST_F(CliTest, ASavedServerByNameGetsTheWindowsBytesAndTheActionIsAudited)
{
    RconSimServer& server = addServer();
    server.game().execute("sv.serverName \"Gr\xfc\xdf"
                          "e \x80\"");
    QDir(folder_.path()).mkpath("config/ravelin");
    writeFile(folder_.filePath("config/ravelin/servers.txt"),
              "# Ravelin's saved servers: name, address and port, separated by tabs.\nMain server\t127.0.0.1\t"
                  + port().toLatin1() + "\n");

    const Outcome listed = run({"--list-servers"});
    EXPECT_EQ(listed.out, "Main server\t127.0.0.1\t" + port().toLatin1() + "\n");

    const QMap<QString, QString> password{{"RAVELIN_PASSWORD", "secret"}};
    const QString say = QStringLiteral("exec game.sayAll \"Stra\u00dfe\"");
    Outcome outcome = run({"-S", "Main server", say, "exec sv.serverName"}, password);
    EXPECT_EQ(outcome.status, 0) << outcome.err.data();
    EXPECT_EQ(server.receivedLines().mid(1),
              Lines({framed("exec game.sayAll \"Stra\xdf"
                            "e\""),
                     framed("exec sv.serverName")}));
    EXPECT_TRUE(outcome.out.endsWith("Gr\xc3\xbc\xc3\x9f"
                                     "e \xe2\x82\xac\n"))
        << outcome.out.data();

    QFile audit(folder_.filePath("state/ravelin/") + AuditLog::fileNameFor(QDate::currentDate()));
    ASSERT_TRUE(audit.open(QIODevice::ReadOnly));
    const QByteArray recorded = audit.readAll();
    EXPECT_TRUE(recorded.contains(" 127.0.0.1:" + port().toLatin1()
                                  + " Chat typed in the console: exec game.sayAll \"Stra\xc3\x9f"
                                    "e\"\n"))
        << recorded.data();
    outcome = run({"--no-audit", "-S", "Main server", say}, password);
    EXPECT_EQ(outcome.status, 0) << outcome.err.data();
    EXPECT_EQ(audit.size(), recorded.size());
}

// --delay holds each command back that long after the reply before it.
TEST_F(CliTest, DelayWaitsAfterEachReply)
{
    RconSimServer& server = addServer();
    QElapsedTimer clock;
    clock.start();
    QList<qint64> received;
    QObject::connect(&server, &RconSimServer::lineReceived, [&] { received.append(clock.elapsed()); });
    const Outcome outcome = run(
        single({"--delay", "0.4", "exec sv.serverName", "exec sv.maxPlayers", "exec sv.serverName"}),
        {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 0) << outcome.err.data();
    ASSERT_EQ(received.size(), 4); // the login and three commands
    EXPECT_GE(received[2] - received[1], 400);
    EXPECT_GE(received[3] - received[2], 400);
}

// Every byte value in names survives: the JSON is plain ASCII, its strings
// hold the characters the window shows (0x80 is the euro sign), and encoded
// in that Windows-1252 table they give the server's bytes back. The fields
// are checked against the practice server's own game.
TEST_F(CliTest, JsonGivesEveryListsFieldsAndKeepsEveryByte)
{
    RconSimServer& server = addServer();
    GameState& game = server.game();
    for (int high = 0x80; high <= 0xFF; high += 32) {
        QByteArray name = "Name ";
        for (int byte = high; byte < high + 32; ++byte)
            name.append(char(byte));
        game.addPlayer({-1, name, "10.1.2.3", quint16(high), "ab" + QByteArray::number(high)});
    }
    game.addPlayer({-1, QByteArray("\"quote\\ \x01\x7f\t - is remote ip: x", 28), "10.0.0.9", 7, "cd"});
    game.addBan({"00ff", BanKind::Timed, 90});

    const Outcome outcome = run(single({"--json", "exec admin.listPlayers", "exec maplist.list",
                                        "exec admin.listBannedKeys", "exec sv.serverName"}),
                                {{"RAVELIN_PASSWORD", "secret"}});
    ASSERT_EQ(outcome.status, 0) << outcome.err.data();
    QList<QJsonObject> players, maps, bans, texts;
    int ends = 0;
    for (const QByteArray& line : outcome.out.split('\n')) {
        if (line.isEmpty())
            continue;
        for (const char c : line)
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "plain ASCII: " << line.data();
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.data();
        const QString type = object.value("type").toString();
        if (type == "end")
            ++ends;
        else
            (type == "player" ? players : type == "map" ? maps : type == "ban" ? bans : texts).append(object);
    }
    EXPECT_EQ(ends, 4);
    EXPECT_TRUE(outcome.out.contains(R"(Name \u20ac\u0081\u201a)")) << outcome.out.data();
    const auto bytes = [](const QJsonObject& object, const char* key) {
        QByteArray serverBytes;
        for (const QChar c : object.value(QLatin1String(key)).toString())
            serverBytes.append(windows1252::fromUnicode(c.unicode()).value_or('?'));
        return serverBytes;
    };

    ASSERT_EQ(players.size(), game.players().size());
    for (qsizetype i = 0; i < players.size(); ++i) {
        const SimPlayer& player = game.players()[i];
        SCOPED_TRACE(player.name.toStdString());
        EXPECT_EQ(players[i].value("id").toInt(-1), player.id);
        EXPECT_EQ(bytes(players[i], "name"), player.name);
        EXPECT_EQ(bytes(players[i], "address"), player.address);
        EXPECT_EQ(players[i].value("port").toInt(-1), player.port);
        EXPECT_EQ(bytes(players[i], "key_hash"), player.keyHash);
        EXPECT_EQ(bytes(players[i], "line"), listingEntries(game.playerListing(), true)[i]);
    }
    ASSERT_EQ(maps.size(), game.rotation().size());
    for (qsizetype i = 0; i < maps.size(); ++i) {
        const SimMap& map = game.rotation()[i];
        EXPECT_EQ(maps[i].value("index").toInt(-1), i);
        EXPECT_EQ(bytes(maps[i], "name"), map.name);
        EXPECT_EQ(bytes(maps[i], "mode"), map.mode);
        EXPECT_EQ(QByteArray::number(maps[i].value("size").toInt(-1)), map.size);
    }
    ASSERT_EQ(bans.size(), game.bans().size());
    for (qsizetype i = 0; i < bans.size(); ++i) {
        const SimBan& ban = game.bans()[i];
        const QByteArray period = ban.kind == BanKind::Perm ? "Perm"
            : ban.kind == BanKind::Round                    ? "Round"
                                                            : "Time Left: " + QByteArray::number(ban.secondsLeft);
        EXPECT_EQ(bytes(bans[i], "key"), ban.keyHash);
        EXPECT_EQ(bytes(bans[i], "period"), period);
    }
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(texts.first().value("type"), "text");
    EXPECT_EQ(bytes(texts.first(), "text"), "Ravelin practice server");
}

// Without a command, standard input gives one a line: a CR before the line
// feed is dropped, an empty line skipped, and a last line without a line feed
// still goes out.
// The password and the login digest are in memory: however the user set the
// limits, a running client leaves no core file.
TEST_F(CliTest, ARunningClientAllowsNoCoreDump)
{
    RconSimServer& server = addServer();
    QProcess process;
    process.setProcessEnvironment(environmentWith({{"RAVELIN_PASSWORD", "secret"}}));
    process.setChildProcessModifier([] {
        ::setsid();
        rlimit core{};
        ::getrlimit(RLIMIT_CORE, &core);
        core.rlim_cur = core.rlim_max; // as after "ulimit -c unlimited"
        ::setrlimit(RLIMIT_CORE, &core);
    });
    process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), single({})); // commands from a pipe held open
    ASSERT_TRUE(WaitUntil([&] { return !server.receivedLines().isEmpty(); }, 20s)) << "logged in";
    QFile limits(QStringLiteral("/proc/%1/limits").arg(process.processId()));
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    QByteArray coreLimit;
    for (const QByteArray& line : limits.readAll().split('\n')) {
        if (line.startsWith("Max core file size"))
            coreLimit = line.mid(18).simplified();
    }
    EXPECT_EQ(coreLimit, "0 0 bytes");
    process.closeWriteChannel();
    EXPECT_TRUE(WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().data();
}

TEST_F(CliTest, PipeSendsOneCommandPerInputLine)
{
    RconSimServer& server = addServer();
    const Outcome outcome = run(single({}), {{"RAVELIN_PASSWORD", "secret"}},
                                "exec sv.serverName\r\n\nexec maplist.list\nexec sv.maxPlayers");
    EXPECT_EQ(outcome.status, 0) << outcome.err.data();
    EXPECT_EQ(outcome.out, "Ravelin practice server\n" + server.game().mapListing() + "64\n");
    EXPECT_EQ(server.receivedLines().mid(1),
              Lines({framed("exec sv.serverName"), framed("exec maplist.list"), framed("exec sv.maxPlayers")}));
}

// Twenty servers at once, one dead and one refusing the password: every other
// one answers on lines of its own, each password comes from where its line
// says, and the exit status is the worst one.
TEST_F(CliTest, ManyServersAtOnceEachOnLinesOfItsOwn)
{
    const RefusedPort refused;
    QByteArray list = "# name host port [password file]\n\n";
    QByteArrayList expected;
    for (int i = 0; i < 18; ++i) {
        const QByteArray name = "srv-" + QByteArray::number(i);
        const QByteArray password = i == 1 ? "own" : i == 2 ? "filed" : "secret";
        RconSimServer& server = addServer(password);
        server.game().execute("sv.serverName \"Server " + QByteArray::number(i) + "\"");
        list += name + "\t127.0.0.1  " + QByteArray::number(server.port()) + (i == 2 ? " pw/two" : "") + '\n';
        expected.append(name + ": Server " + QByteArray::number(i));
    }
    list += "dead 127.0.0.1 " + refused.port().toLatin1() + "  # nobody listens\n";
    list += "locked 127.0.0.1 " + port(0).toLatin1() + " pw/wrong\n";
    QDir(folder_.path()).mkpath("pw");
    writeFile(folder_.filePath("pw/two"), "filed\n");
    writeFile(folder_.filePath("pw/wrong"), "guess\n");
    writeFile(folder_.filePath("servers"), list);

    const Outcome outcome = run({"--servers", folder_.filePath("servers"), "exec sv.serverName"},
                                {{"RAVELIN_PASSWORD", "secret"}, {"RAVELIN_PASSWORD_SRV_1", "own"}});
    EXPECT_EQ(outcome.status, 3);
    QByteArrayList lines = outcome.out.split('\n');
    lines.removeAll("");
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    const QByteArrayList summary = outcome.err.split('\n').mid(outcome.err.count('\n') - 3, 3);
    EXPECT_EQ(
        summary,
        QByteArrayList({"dead: connection failed: error 10061: connection refused",
                        "locked: login failed: Authentication Failed; Disconnected...", "2 of 20 servers failed"}))
        << outcome.err.data();
}

// A connection that ends before every reply came is a failure, whatever came
// before: what did come is printed, and the status says it was not all.
TEST_F(CliTest, ConnectionLostInAReplyIsStatusThree)
{
    RconSimServer& server = addServer();
    QObject::connect(&server, &RconSimServer::lineReceived, [&](const QByteArray& line) {
        if (line == framed("exec admin.listPlayers"))
            server.closeAfterNextReplyBytes(20);
    });
    const Outcome outcome = run(single({"exec sv.serverName", "exec admin.listPlayers", "exec sv.maxPlayers"}),
                                {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.out, "Ravelin practice server\n" + server.game().playerListing().left(20));
    EXPECT_EQ(outcome.err, "Disconnected...\n");
}

// In JSON every object names its server; a server whose reply came late is
// counted in the summary, and sets the status when nothing worse happened.
TEST_F(CliTest, ManyServersInJsonNameTheirServerAndCountLateReplies)
{
    RconSimServer& quick = addServer();
    RconSimServer& slow = addServer();
    slow.setStall(2, 5000); // the command after the login
    const Outcome outcome = run({"--servers", serversFile({{"quick", &quick}, {"slow", &slow}}), "--json", "--timeout",
                                 "1", "exec sv.maxPlayers"},
                                {{"RAVELIN_PASSWORD", "secret"}});
    EXPECT_EQ(outcome.status, 4);
    QByteArrayList lines = outcome.out.split('\n');
    lines.removeAll("");
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines,
              QByteArrayList({
                  R"({"server":"quick","command":"exec sv.maxPlayers","type":"end"})",
                  R"({"server":"quick","command":"exec sv.maxPlayers","type":"text","text":"64"})",
                  R"({"server":"slow","command":"exec sv.maxPlayers","type":"end"})",
                  R"({"server":"slow","command":"exec sv.maxPlayers","type":"text","text":"64"})",
                  R"({"server":"slow","command":"exec sv.maxPlayers","type":"timeout"})",
              }));
    EXPECT_TRUE(outcome.err.endsWith("slow: 1 reply timed out\n1 of 2 servers failed\n")) << outcome.err.data();
}

// At a terminal the prompt is shown again after an empty line, and once every
// server has answered or ended: here one answers and the other goes away while
// the command is out.
TEST_F(CliTest, ThePromptComesBackOnceEveryServerHasAnsweredOrEnded)
{
    RconSimServer& answers = addServer();
    RconSimServer& dies = addServer();
    dies.setStall(2, 600000); // the command after the login
    const QString servers = serversFile({{"answers", &answers}, {"dies", &dies}});
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    const auto closeTerminal = qScopeGuard([&] { ::close(terminal); });
    ASSERT_TRUE(::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    const QByteArray side = ::ptsname(terminal);

    QProcess process;
    process.setProcessEnvironment(environmentWith({{"RAVELIN_PASSWORD", "secret"}, {"TERM", "dumb"}}));
    process.setChildProcessModifier([side] {
        ::setsid();
        const int fd = ::open(side.constData(), O_RDWR);
        ::dup2(fd, STDIN_FILENO);
        ::dup2(fd, STDOUT_FILENO);
    });
    process.start(QStringLiteral(RAVELIN_CLI_PROGRAM), {"--servers", servers});
    QByteArray shown;
    const auto terminalShows = [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, n);
        return shown;
    };
    const auto prompts = [&] { return terminalShows().count("2 servers> "); };
    ASSERT_TRUE(WaitUntil([&] { return prompts() > 0; }, 20s)) << shown.data();
    ASSERT_EQ(::write(terminal, "\r", 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return prompts() > 1; }, 20s)) << "an empty line asks again: " << shown.data();
    ASSERT_EQ(::write(terminal, "exec sv.serverName\r", 19), 19);
    ASSERT_TRUE(WaitUntil([&] { return terminalShows().contains("answers: Ravelin practice server"); }, 20s))
        << shown.data();
    QFile history(folder_.filePath("state/ravelin/cli_history"));
    EXPECT_TRUE(history.open(QIODevice::ReadOnly) && history.readAll().endsWith("exec sv.serverName\r\n"));
    EXPECT_EQ(history.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions())
        << "for its user alone";
    SpinEventLoop(200ms);
    const qsizetype before = prompts();
    dies.closeClients();
    EXPECT_TRUE(WaitUntil([&] { return prompts() > before; }, 20s)) << shown.data();
    EXPECT_EQ(::write(terminal, "\x04", 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 20s)) << shown.data();
    EXPECT_EQ(process.exitCode(), 3) << process.readAllStandardError().data();
}

TEST(ServerList, ReadsNameHostPortAndPasswordFileAndPointsAtMistakes)
{
    QByteArray thousand;
    Lines thousandServers;
    for (int i = 1; i <= 1000; ++i) {
        thousand += "s" + QByteArray::number(i) + " h 1\n";
        thousandServers.append("s" + QByteArray::number(i) + " h 1 ");
    }
    struct Case
    {
        QByteArray text;
        QByteArray error;
        Lines servers; // "name host port file"
    };
    const Case cases[] = {
        {"# servers\n\n  a 10.0.0.1 4711\r\nb host.example 1 pw # its own\n",
         "",
         {"a 10.0.0.1 4711 ", "b host.example 1 /srv/pw"}},
        {"a h 1 /abs/pw", "", {"a h 1 /abs/pw"}},
        // The window's own file: split by tabs, blanks inside names, written in Windows-1252.
        {"# Ravelin's saved servers: name, address and port, separated by tabs.\nMain server\t127.0.0.1\t4711\n"
         "Stra\xdf"
         "e\th\t2\n",
         "",
         {"Main server 127.0.0.1 4711 ",
          "Stra\xc3\x9f"
          "e h 2 "}},
        {"Stra\xc3\x9f"
         "e h 1\na\th 2\n",
         "",
         {"Stra\xc3\x9f"
          "e h 1 ",
          "a h 2 "}},
        {"a h\n", "/srv/list:1: expected NAME HOST PORT [PASSWORD-FILE], found 2 fields", {}},
        {"a h 1 f extra\n", "/srv/list:1: expected NAME HOST PORT [PASSWORD-FILE], found 5 fields", {}},
        {"\na h 0\n", "/srv/list:2: the port must be a whole number from 1 to 65535, not '0'", {}},
        {"a h 65536\n", "/srv/list:1: the port must be a whole number from 1 to 65535, not '65536'", {}},
        {"a h 1\na k 2\n", "/srv/list:2: the name 'a' is given twice", {}},
        {"# nothing\n", "/srv/list:2: no server in the file", {}},
        {thousand, "", thousandServers},
        {thousand + "one_more h 1\n", "/srv/list:1001: more than 1000 servers", {}},
    };
    for (const Case& c : cases) {
        const ServerList list = parseServerList(c.text, QStringLiteral("/srv/list"));
        Lines servers;
        for (const ServerLine& s : list.servers)
            servers.append(s.name.toUtf8() + ' ' + s.host + ' ' + QByteArray::number(s.port) + ' '
                           + s.passwordFile.toUtf8());
        EXPECT_EQ(list.error, c.error) << c.text.left(100).data();
        EXPECT_EQ(servers, c.servers) << c.text.left(100).data();
    }
    EXPECT_EQ(passwordVariable("eu-1.main"), "RAVELIN_PASSWORD_EU_1_MAIN");
}

// Lines the server may send that the usual cutting does not fit.
TEST(ListFields, CutsWhatALineHoldsAndNothingItDoesNot)
{
    const list_fields::PlayerFields odd = list_fields::playerFields(
        "Id: 12 - A is remote ip: B is remote ip: 1.2.3.4:5 ->  CD-key hash: ff ");
    EXPECT_EQ(odd.id, 12);
    EXPECT_EQ(odd.name, "A is remote ip: B");
    EXPECT_EQ(odd.address, "1.2.3.4");
    EXPECT_EQ(odd.port, 5);
    EXPECT_EQ(odd.keyHash, "ff");
    const list_fields::PlayerFields bare = list_fields::playerFields("Id: x");
    EXPECT_EQ(bare.id, std::nullopt);
    EXPECT_EQ(bare.name, std::nullopt);
    EXPECT_EQ(bare.keyHash, std::nullopt);

    const list_fields::MapFields unquoted = list_fields::mapFields("7: dalian_plant gpm_cq");
    EXPECT_EQ(unquoted.index, 7);
    EXPECT_EQ(unquoted.name, "dalian_plant");
    EXPECT_EQ(unquoted.mode, "gpm_cq");
    EXPECT_EQ(unquoted.size, std::nullopt);
    EXPECT_EQ(list_fields::mapFields("no colon").name, std::nullopt);

    EXPECT_EQ(list_fields::banFields("Key: ab Round").key, "ab");
    EXPECT_EQ(list_fields::banFields("Key: ab Time Left: 9").period, "Time Left: 9");
    EXPECT_EQ(list_fields::banFields("nonsense").key, std::nullopt);
}

// With several servers a line goes out whole behind its server's name, however
// the reply was cut into reads; a reply without a last line feed gets one.
TEST(ReplyPrinter, NamedLinesStayWholeAcrossReads)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    Output output(stream, stream);
    ReplyPrinter first(output, ReplyFormat::Text, "a");
    ReplyPrinter second(output, ReplyFormat::Text, "b");
    first.begin("x");
    second.begin("x");
    first.addBytes("one\ntw");
    second.addBytes("uno\nd");
    first.addBytes("o\nthr");
    second.addBytes("os\n");
    first.end();
    second.end();
    std::fclose(stream);
    EXPECT_EQ(QByteArray(buffer, qsizetype(size)), "a: one\nb: uno\na: two\nb: dos\na: thr\n");
    std::free(buffer);
}

// A reply goes out when it ends (only a flush fills the memory stream's
// buffer here), so a script reading the pipe sees each reply then. A line is
// held until it is whole, up to 1 MiB; a longer one goes out in 1 MiB pieces.
TEST(ReplyPrinter, FlushesAtEachReplysEndAndHoldsALineUpTo1MiB)
{
    const QByteArray most(1024 * 1024, 'x'); // the stated bound, not the constant
    struct Case
    {
        const char* name;
        QList<QByteArray> reads;
        QByteArray printed;
    };
    const Case cases[] = {
        {"short lines", {"one\ntw", "o\nthr"}, "a: one\na: two\na: thr\n"},
        {"the longest line held", {most.left(1000), most.mid(1000), "\nnext\n"}, "a: " + most + "\na: next\n"},
        {"a byte longer", {most, "y\n"}, "a: " + most + "\na: y\n"},
    };
    for (const Case& c : cases) {
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* stream = ::open_memstream(&buffer, &size);
        Output output(stream, stream);
        ReplyPrinter printer(output, ReplyFormat::Text, "a");
        printer.begin("x");
        for (const QByteArray& read : c.reads)
            printer.addBytes(read);
        printer.end();
        const QByteArray printed(buffer, qsizetype(size));
        EXPECT_TRUE(printed == c.printed)
            << c.name << ": printed " << printed.size() << " bytes, " << printed.left(100).data();
        std::fclose(stream);
        std::free(buffer);
    }
}

// The command line reads as other programs' do (getopt_long), and the
// environment stands in for -H and -P.
TEST(CliOptions, ReadLikeOtherCommandLinePrograms)
{
    struct Case
    {
        const char* what;
        QList<QByteArray> arguments;
        CliEnvironment environment;
        QByteArray errorPart; // empty when the line is taken
        QByteArray host;
        quint16 port;
        QList<QByteArray> commands;
    };
    const CliEnvironment none;
    const Case cases[] = {
        {"attached values", {"-H127.0.0.1", "-P4712", "x"}, none, "", "127.0.0.1", 4712, {"x"}},
        {"long values after =", {"--host=h", "--port=1", "x"}, none, "", "h", 1, {"x"}},
        {"options among commands; -- ends them", {"x", "-Hh", "--", "-P", "y"}, none, "", "h", 4711, {"x", "-P", "y"}},
        {"bytes kept", {"-Hh", "say \xff\x01 \xc3"}, none, "", "h", 4711, {"say \xff\x01 \xc3"}},
        {"environment", {"x"}, {"e", "5", {}}, "", "e", 5, {"x"}},
        {"options beat the environment", {"-Hh", "-P6"}, {"e", "5", {}}, "", "h", 6, {}},
        {"a bad RAVELIN_PORT", {}, {"e", "x", {}}, "RAVELIN_PORT must be a whole number", "", 0, {}},
        {"a saved server takes no -H",
         {"-Sa", "-Hh"},
         none,
         "give one of -H HOST, -S NAME and --servers FILE",
         "",
         0,
         {}},
        {"nor -P", {"--server=a", "-P1"}, none, "-P PORT goes with -H HOST", "", 0, {}},
        {"missing value", {"-H"}, none, "option '-H' needs a value", "", 0, {}},
        {"unknown short option", {"-Hh", "-x"}, none, "unknown option '-x'", "", 0, {}},
        {"a value where none goes", {"-Hh", "--verbose=1"}, none, "option '--verbose' takes no value", "", 0, {}},
        {"longest delay", {"-Hh", "--delay=86400"}, none, "", "h", 4711, {}},
        {"delay too long", {"-Hh", "--delay", "86400.5"}, none, "the delay must be a number of seconds", "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CliCommandLine line = parseCliCommandLine(QList<QByteArray>{"ravelin-cli"} + c.arguments, "1",
                                                        c.environment);
        if (!c.errorPart.isEmpty()) {
            EXPECT_EQ(line.exitStatus, 2);
            EXPECT_TRUE(line.output.contains(c.errorPart)) << line.output.data();
            continue;
        }
        ASSERT_FALSE(line.exitStatus) << line.output.data();
        EXPECT_EQ(line.options.host, c.host);
        EXPECT_EQ(line.options.port, c.port);
        EXPECT_EQ(line.options.commands, c.commands);
    }
}

// What the user gives, in the terminal's encoding, becomes the bytes the
// window sends; the server's bytes become the characters the window shows.
TEST(TerminalText, TakesTheTerminalsTextAndShowsTheServers)
{
    struct Case
    {
        const char* codeset;
        QByteArray typed;
        QByteArray sent;
        QByteArray problemPart;
    };
    const Case cases[] = {
        {"UTF-8",
         "Stra\xc3\x9f"
         "e",
         "Stra\xdf"
         "e",
         ""},
        {"UTF-8", "\xe2\x82\xac\xe2\x80\x9c", "\x80\x93", ""},              // euro sign, left quote
        {"UTF-8", "a \xc5\x82", "a ", "\"\xc5\x82\" (U+0142) has no byte"}, // never a "?"
        {"UTF-8", "\xf0\x9f\x98\x80", "", "(U+1F600)"},
        {"UTF-8", "a\xe9z \xc0\xaf", "a\xe9z \xc0\xaf", ""}, // not UTF-8: the bytes as they are
        {"ANSI_X3.4-1968",
         "Stra\xc3\x9f"
         "e",
         "Stra\xdf"
         "e",
         ""},                                        // the C locale reads UTF-8
        {"ISO-8859-15", "\xa4\xbd", "\x80\x9c", ""}, // euro sign, oe
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toHex().toStdString());
        const TerminalText::ServerBytes bytes = TerminalText(c.codeset).toServer(c.typed);
        EXPECT_TRUE(bytes.problem.contains(c.problemPart)) << bytes.problem.data();
        EXPECT_EQ(bytes.problem.isEmpty(), c.problemPart.isEmpty());
        if (c.problemPart.isEmpty()) {
            EXPECT_EQ(bytes.bytes, c.sent);
        }
    }
    EXPECT_EQ(serverTextAsUtf8("a\x80\x81\xff"), "a\xe2\x82\xac\xc2\x81\xc3\xbf");
    // Every byte the server may send, shown and typed back, is the same byte.
    QByteArray everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte.append(char(byte));
    const TerminalText::ServerBytes back = TerminalText().toServer(serverTextAsUtf8(everyByte));
    EXPECT_EQ(back.bytes, everyByte);
    EXPECT_EQ(back.problem, "");
    EXPECT_EQ(jsonString(QByteArrayView("\x80\x81\"")), R"("\u20ac\u0081\"")");
    EXPECT_EQ(TerminalText("ISO-8859-1").toTerminal("\xc3\xa9 \xe6\x97\xa5"), "\xe9 ?");
}

// A saved server's keyring password comes after the server's own password and
// before the ones common to every server; a keyring that does not answer in
// time is passed over.
TEST(PasswordSources, TheKeyringComesBetweenAServersOwnAndTheCommonOnes)
{
    class Keyring : public PasswordStore
    {
    public:
        bool answers = true;
        std::function<void(std::optional<QByteArray>)> unanswered;
        bool isAvailable() const override { return true; }
        void read(const QString& key, std::function<void(std::optional<QByteArray>)> done) override
        {
            if (!answers) {
                unanswered = std::move(done);
                return;
            }
            const std::optional<QByteArray> kept = key == "h:1" ? std::optional<QByteArray>("kept") : std::nullopt;
            QTimer::singleShot(0, [done = std::move(done), kept] { done(kept); });
        }
        void write(const QString&, const QByteArray&, std::function<void(QString)>) override { }
        void remove(const QString&) override { }
    } keyring;
    qputenv("RAVELIN_PASSWORD", "common\n");
    qputenv("RAVELIN_PASSWORD_OWN", "own");
    const auto unset = qScopeGuard([] {
        qunsetenv("RAVELIN_PASSWORD");
        qunsetenv("RAVELIN_PASSWORD_OWN");
    });
    struct Case
    {
        const char* what;
        PasswordSources sources;
        bool answers;
        QByteArray password;
    };
    const Case cases[] = {
        {"own variable", {"RAVELIN_PASSWORD_OWN", {}, "h:1", {}}, true, "own"},
        {"keyring", {"RAVELIN_PASSWORD_NONE", {}, "h:1", {}}, true, "kept"},
        {"nothing kept", {{}, {}, "h:2", {}}, true, "common"},
        {"keyring silent", {{}, {}, "h:1", {}}, false, "common"},
        {"not a saved server", {{}, {}, {}, {}}, true, "common"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        keyring.answers = c.answers;
        const PasswordResult found = findPassword(c.sources, {50ms, &keyring, TerminalText()});
        EXPECT_EQ(found.password, c.password) << found.error.data();
    }
}

// ravelin-cli watch records every player who joined two servers; SIGTERM
// ends it with status 0, and ravelin-cli history finds the newcomers, with
// their hash, address, server and when they were seen, in the store.
TEST_F(CliTest, WatchRecordsThePlayersThatHistoryFinds)
{
    RconSimServer& first = addServer();
    RconSimServer& second = addServer();
    second.game().seedChurn(2); // a newcomer of its own
    const QString servers = serversFile({{"eu1", &first}, {"eu2", &second}});
    QProcess watch;
    watch.setProcessEnvironment(environmentWith({{"RAVELIN_PASSWORD", "secret"}}));
    watch.setChildProcessModifier([] { ::setsid(); });
    watch.start(QStringLiteral(RAVELIN_CLI_PROGRAM), {"watch", "--servers", servers, "--json", "--interval", "5"});
    QByteArray printed;
    const auto printedCount = [&](const QByteArray& part) {
        printed += watch.readAllStandardOutput();
        return printed.count(part);
    };
    const qsizetype present = first.game().players().size() + second.game().players().size();
    ASSERT_TRUE(WaitUntil([&] { return printedCount(R"("event":"join")") == present; }, 20s)) << printed.data();
    const SimPlayer newcomers[] = {*first.churnStep().joined, *second.churnStep().joined};
    ASSERT_TRUE(WaitUntil([&] { return printedCount(R"("name":"Recruit)") == 2; }, 20s)) << printed.data();
    ::kill(pid_t(watch.processId()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return watch.state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(watch.exitCode(), 0) << watch.readAllStandardError().data();
    EXPECT_EQ(printedCount(R"("event":"down","reason":"the watch stopped")"), 2);

    const Outcome history = run({"history", "--json", "recruit"});
    ASSERT_EQ(history.status, 0) << history.err.data();
    const QList<QByteArray> lines = history.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << history.out.data();
    for (const SimPlayer& newcomer : newcomers) {
        const auto found = std::find_if(lines.begin(), lines.end(), [&](const QByteArray& line) {
            return line.contains("\"hash\":\"" + newcomer.keyHash + '"');
        });
        ASSERT_NE(found, lines.end()) << newcomer.keyHash.data();
        const QJsonObject player = QJsonDocument::fromJson(*found).object();
        EXPECT_EQ(player["names"][0]["name"].toString().toLatin1(), newcomer.name);
        EXPECT_EQ(player["addresses"][0]["address"].toString().toLatin1(), newcomer.address);
        const QJsonObject session = player["sessions"][0].toObject();
        EXPECT_EQ(session["server"].toString(), &newcomer == &newcomers[0] ? "eu1" : "eu2");
        EXPECT_FALSE(session["joined"].toString().isEmpty());
        EXPECT_FALSE(session["left"].toString().isEmpty()) << "the watch's end closed the session";
        EXPECT_FALSE(player["last_seen"].toString().isEmpty());
    }

    const Outcome nobody = run({"history", "--json", "nobody of that name"});
    EXPECT_EQ(nobody.status, 0);
    EXPECT_TRUE(nobody.out.isEmpty());
    EXPECT_TRUE(nobody.err.contains("no player in")) << nobody.err.data();
}

// ravelin-cli watch runs the automation file: a schedule missed while nothing
// ran runs at start, a rule kicks the player on its list, each is a JSON
// event, and the runs are in the store; a faulty file says where.
TEST_F(CliTest, WatchRunsTheAutomationAndCheckSaysWhereAFileIsWrong)
{
    RconSimServer& server = addServer();
    const SimPlayer cheat = server.game().players().first();
    const QString database = folder_.filePath("players.sqlite");
    {
        PlayerStore store(*parseStoreLocation(database));
        ASSERT_TRUE(store.open());
        ASSERT_TRUE(store.recordScheduleRun({"warn",
                                             "eu1",
                                             QDateTime::currentDateTimeUtc().addSecs(-7200),
                                             QDateTime::currentDateTimeUtc().addSecs(-7200),
                                             {"x"},
                                             {""},
                                             "done"}));
    }
    const QString automation = writeFileAt(
        "automation.toml",
        "[[schedule]]\nname = \"warn\"\nservers = [\"*\"]\nevery = \"1h\"\nmissed = \"once\"\n"
        "commands = ['exec game.sayAll \"Restart soon\"']\n"
        "[[rule]]\nname = \"cheat\"\nwhen = { hash = [\""
            + cheat.keyHash + "\"] }\naction = \"kick\"\n");
    QProcess watch;
    watch.setProcessEnvironment(environmentWith({{"RAVELIN_PASSWORD", "secret"}}));
    watch.setChildProcessModifier([] { ::setsid(); });
    watch.start(QStringLiteral(RAVELIN_CLI_PROGRAM),
                {"watch", "--servers", serversFile({{"eu1", &server}}), "--json", "--database", database,
                 "--automation", automation});
    QByteArray printed;
    const auto printedHas = [&](const QByteArray& part) {
        printed += watch.readAllStandardOutput();
        return printed.contains(part);
    };
    ASSERT_TRUE(WaitUntil([&] { return printedHas(R"("event":"schedule","name":"warn","outcome":"done")"); }, 20s))
        << printed.data() << watch.readAllStandardError().data();
    ASSERT_TRUE(WaitUntil([&] { return printedHas(R"("action":"kick","dry_run":false)"); }, 20s)) << printed.data();
    EXPECT_TRUE(printedHas(R"("event":"rule","name":"cheat","player":")" + cheat.name));
    ASSERT_TRUE(WaitUntil([&] { return printedHas(R"("event":"leave")"); }, 20s)) << "the cheat was not kicked";
    ::kill(pid_t(watch.processId()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return watch.state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(watch.exitCode(), 0) << watch.readAllStandardError().data();
    const QList<QByteArray> sent = server.receivedLines();
    EXPECT_EQ(std::count_if(sent.cbegin(), sent.cend(),
                            [](const QByteArray& line) { return line.contains("game.sayAll \"Restart soon\""); }),
              1);
    PlayerStore store(*parseStoreLocation(database));
    ASSERT_TRUE(store.open());
    const QList<ScheduleRun> runs = store.scheduleRuns("warn");
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs.first().commands, QStringList{"exec game.sayAll \"Restart soon\""});

    writeFileAt("automation.toml", "[[rule]]\nname = \"r\"\naction = \"kik\"\n");
    const Outcome check = run({"automation", "check", automation});
    EXPECT_EQ(check.status, 2);
    EXPECT_TRUE(check.err.startsWith(QFile::encodeName(automation) + ":3:10: action is")) << check.err.data();
}

// plan shows what differs on two practice servers, apply makes it (a snapshot
// first, read back after), a second plan finds nothing, and undo brings both
// back byte for byte; no server's rotation is ever empty on the way.
TEST_F(CliTest, PlanApplyAndUndoAFleetsDesiredState)
{
    RconSimServer& first = addServer();
    RconSimServer& second = addServer();
    const QString servers = serversFile({{"eu1", &first}, {"eu2", &second}});
    const QString desired = writeFileAt(
        "desired.toml",
        "[defaults]\nrotation = [[\"dalian_plant\", \"gpm_cq\", 16], [\"strike_at_karkand\", \"gpm_cq\", 16]]\n"
        "settings = { \"sv.ticketRatio\" = \"80\" }\n"
        "bans.keys = [{ key = \"0123456789abcdef0123456789abcdef\", time = \"1d\" }]\n"
        "[server.\"eu2\"]\nsettings = { \"sv.serverName\" = \"Second server\" }\n");
    const QString database = folder_.filePath("players.sqlite");
    const QMap<QString, QString> password{{"RAVELIN_PASSWORD", "secret"}};
    const auto state = [](const RconSimServer& server) {
        const GameState& game = server.game();
        return std::tuple(game.rotation(), game.setting("sv.ticketRatio"), game.setting("sv.serverName"), game.bans());
    };
    const auto before = std::pair(state(first), state(second));

    const Outcome plan = run({"plan", "--servers", servers, "--desired", desired}, password);
    EXPECT_EQ(plan.status, 5) << plan.err.data();
    EXPECT_TRUE(plan.out.contains("~ sv.ticketRatio: \"100\" -> \"80\"")) << plan.out.data();
    EXPECT_TRUE(plan.out.contains("+ ban key 0123456789abcdef0123456789abcdef")) << plan.out.data();

    // The rotation as each command leaves it, replayed from what the server
    // received: no wanted map is on it yet, so removing first would empty it.
    first.clearReceivedLines();
    const Outcome apply = run({"apply", "--servers", servers, "--desired", desired, "--database", database}, password);
    ASSERT_EQ(apply.status, 0) << apply.out.data() << apply.err.data();
    EXPECT_EQ(first.game().setting("sv.ticketRatio"), QByteArray("80"));
    EXPECT_EQ(second.game().setting("sv.serverName"), QByteArray("Second server"));
    EXPECT_EQ(first.game().rotation().size(), 2);
    qsizetype rotation = std::get<0>(before.first).size();
    for (const QByteArray& line : first.receivedLines()) {
        if (line.contains("mapList.append")) {
            ++rotation;
        } else if (line.contains("mapList.remove")) {
            EXPECT_GT(--rotation, 0) << "the rotation was left empty";
        }
    }
    // mapList.save is the last change; only the reading back comes after it.
    const QList<QByteArray> sent = first.receivedLines();
    const auto save = std::find_if(sent.cbegin(), sent.cend(),
                                   [](const QByteArray& l) { return l.endsWith("mapList.save"); });
    ASSERT_NE(save, sent.cend());
    EXPECT_TRUE(std::all_of(save + 1, sent.cend(), [](const QByteArray& l) {
        return l.endsWith("maplist.list") || l.endsWith("sv.ticketRatio") || l.contains("admin.listBanned");
    }));

    EXPECT_EQ(run({"plan", "--servers", servers, "--desired", desired}, password).status, 0);
    const Outcome undo = run({"undo", "--servers", servers, "--database", database}, password);
    ASSERT_EQ(undo.status, 0) << undo.out.data() << undo.err.data();
    EXPECT_EQ(state(first), before.first);
    EXPECT_EQ(state(second), before.second);
}

// What the watch service reads: watch.conf and the watch's command line,
// with the interval's floor of 5 seconds on both.
TEST(WatchSettings, ReadTheConfigAndTheCommandLine)
{
    const WatchConfig config = parseWatchConfig(
        "# the service's\n\nservers = list.txt\ninterval = 5\nretention-days = 30\n", "/etc/r/watch.conf");
    EXPECT_EQ(config.error, "");
    EXPECT_EQ(config.servers, "/etc/r/list.txt");
    EXPECT_EQ(config.interval, 5s);
    EXPECT_EQ(config.retentionDays, 30);
    struct Case
    {
        QByteArray text;
        QByteArray error;
    };
    const Case wrong[] = {
        {"interval = 4\n", "/w:1: the interval must be a whole number of seconds from 5 to 86400, not '4'"},
        {"\ncolour = red\n", "/w:2: unknown setting 'colour'"},
        {"servers\n", "/w:1: expected KEY = VALUE, found 'servers'"},
    };
    for (const Case& c : wrong)
        EXPECT_EQ(parseWatchConfig(c.text, "/w").error, c.error);

    EXPECT_EQ(parseWatchCommandLine({"watch", "--interval=5"}).options.interval, 5s);
    for (const QList<QByteArray>& arguments :
         {QList<QByteArray>{"watch", "--interval", "4.9"}, {"watch", "exec sv.serverName"}}) {
        const WatchCommandLine line = parseWatchCommandLine(arguments);
        EXPECT_EQ(line.exitStatus, 2) << arguments.last().data();
    }
}
