// Two servers at once, each in a view of its own, as the fleet window will
// show them: what one view logs, lists, sends or writes to the audit log is
// never the other's.

#include "admin/console_admin.h"
#include "admin/player_admin.h"
#include "server/server_view.h"
#include "sim_server.h"
#include "support/listings.h"
#include "support/printers.h"
#include "support/wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Lines = QList<QByteArray>;

// What a window showing the view would show.
struct Shown
{
    explicit Shown(ServerView& view)
    {
        QObject::connect(&view, &ServerView::logLinesReady, [this](const Lines& lines) { log.append(lines); });
        QObject::connect(&view, &ServerView::listCleared, [this](ListKind) { ++listSignals; });
        QObject::connect(&view, &ServerView::entriesAdded, [this](ListKind, const EntryBlock&) { ++listSignals; });
        QObject::connect(&view, &ServerView::listComplete, [this](ListKind list) {
            ++listSignals;
            completed.append(list);
        });
        QObject::connect(&view, &ServerView::entryRemoved,
                         [this](ListKind, const QByteArray& entry) { removed.append(entry); });
        QObject::connect(&view, &ServerView::errorRaised, [this](const QByteArray& error) { errors.append(error); });
    }
    Lines log;
    int listSignals = 0;
    QList<ListKind> completed;
    Lines removed;
    Lines errors;
};

// The servers named by the audit records in `folder` that say `text`, in the order written.
Lines auditServersOf(const QString& folder, const QByteArray& text)
{
    Lines servers;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("audit-*.log")}, QDir::Files, QDir::Name)) {
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // "date time user server text"
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.endsWith(' ' + text))
                servers.append(line.chopped(text.size() + 1).split(' ').last());
    }
    return servers;
}

} // namespace

TEST(ServerView, TwoViewsSideBySideKeepTheirServersApart)
{
    RconSimOptions options;
    options.password = "practice";
    RconSimServer firstServer(options);
    options.players = 3;
    RconSimServer secondServer(options);
    ASSERT_TRUE(firstServer.listen() && secondServer.listen());
    const QByteArray firstName = "127.0.0.1:" + QByteArray::number(firstServer.port());
    const QByteArray secondName = "127.0.0.1:" + QByteArray::number(secondServer.port());

    // One audit folder for both: each record names its own view's server.
    QTemporaryDir audit;
    ServerViewOptions viewOptions;
    viewOptions.auditLogFolder = audit.path();
    auto first = std::make_unique<ServerView>(viewOptions);
    auto second = std::make_unique<ServerView>(viewOptions);
    Shown firstShown(*first), secondShown(*second);

    first->connectToServer("127.0.0.1", QByteArray::number(firstServer.port()), [] { return "practice"; });
    second->connectToServer("127.0.0.1", QByteArray::number(secondServer.port()), [] { return "wrong"; });
    ASSERT_TRUE(WaitUntil([&] { return first->status() == "Connected to 127.0.0.1"; })) << first->status().constData();
    ASSERT_TRUE(WaitUntil([&] { return second->status() == "Disconnected"; })) << second->status().constData();
    EXPECT_EQ(first->status(), "Connected to 127.0.0.1");
    EXPECT_TRUE(first->isConnected());
    EXPECT_FALSE(second->isConnected());
    EXPECT_TRUE(firstShown.log.contains("Authentication successful"));
    EXPECT_FALSE(firstShown.log.contains("Authentication Failed"));
    EXPECT_TRUE(secondShown.log.contains("Authentication Failed"));
    EXPECT_FALSE(secondShown.log.contains("Authentication successful"));

    // The first view's list fills from its own server; the second hears nothing of it.
    first->sendCommand(player_admin::RefreshCommand);
    ASSERT_TRUE(WaitUntil([&] { return firstShown.completed.contains(ListKind::Players); }));
    const Lines players = listingEntries(firstServer.game().playerListing(), true);
    ASSERT_EQ(players.size(), 8);
    EXPECT_EQ(first->entries(ListKind::Players).toList(), players);
    EXPECT_TRUE(second->entries(ListKind::Players).isEmpty());
    EXPECT_EQ(secondShown.listSignals, 0);

    // Refusals are each view's own: without a connection the action goes on
    // after the refusal; a command too long for the server is not done and
    // says nothing more.
    struct Case
    {
        const char* what;
        ServerView* view;
        AdminAction action;
        bool done;
        Lines logged;
    };
    const AdminAction tooLong{"exec game.sayAll \"" + QByteArray(1100, 'x') + '"', "Said it."};
    const AdminAction kick = player_admin::kick(*player_admin::playerId(players.first()));
    const Case cases[] = {
        {"not connected",
         second.get(),
         console_admin::stopRecording(),
         true,
         {"Error not connected...", console_admin::stopRecording().logLine}},
        {"too long", first.get(), tooLong, false, {commandLengthProblem(tooLong.command)}},
        {"sent", first.get(), kick, true, {kick.logLine}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Shown& shown = c.view == first.get() ? firstShown : secondShown;
        Shown& other = c.view == first.get() ? secondShown : firstShown;
        const qsizetype mark = shown.log.size(), otherMark = other.log.size();
        EXPECT_EQ(c.view->perform(c.action), c.done);
        EXPECT_EQ(shown.log.mid(mark), c.logged);
        EXPECT_EQ(other.log.size(), otherMark);
    }
    ASSERT_TRUE(WaitUntil([&] { return firstServer.receivedLines().last() == framed(kick.command); }));
    EXPECT_FALSE(secondServer.receivedLines().contains(framed(console_admin::stopRecording().command)));

    // The kicked player leaves the first view's list, and only that one.
    first->removeEntry(ListKind::Players, players.first());
    EXPECT_EQ(first->entries(ListKind::Players).toList(), players.mid(1));
    EXPECT_EQ(firstShown.removed, Lines({players.first()}));
    EXPECT_TRUE(secondShown.removed.isEmpty());

    first.reset();
    second.reset();
    const auto saidBy = [&](const QByteArray& text) { return auditServersOf(audit.path(), text); };
    EXPECT_EQ(saidBy("Authentication successful"), Lines({firstName}));
    EXPECT_EQ(saidBy("Authentication Failed"), Lines({secondName}));
    EXPECT_EQ(saidBy(kick.logLine), Lines({firstName}));
    EXPECT_EQ(saidBy("Connecting to 127.0.0.1"), Lines({firstName, secondName}))
        << "one record each, not folded into the other's";
    EXPECT_EQ(firstShown.errors + secondShown.errors, Lines());
}
