// Admin messages and the automatic announcer, through the real window against
// the practice server. The announcer's ticks are driven by the test.

#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>

namespace {

using Lines = QList<QByteArray>;

} // namespace

class AnnounceTest : public WindowTest
{
protected:
    // One tick of the announcer's timer, as the event loop delivers it.
    void tickOnce()
    {
        QTimer& timer = control<QTimer>("announceTimer");
        QTimerEvent tick(timer.timerId());
        QCoreApplication::sendEvent(&timer, &tick);
    }

    // Ticks the announcer `count` times and returns the commands the server got.
    Lines tick(int count)
    {
        const qsizetype before = commandsAfterLogin().size();
        for (int i = 0; i < count; ++i)
            tickOnce();
        WaitUntil([&] { return commandsAfterLogin().size() >= before + count; });
        return commandsAfterLogin().mid(before);
    }

    void fillTable(const Lines& rows)
    {
        StringGrid& grid = control<StringGrid>("announcementGrid");
        grid.setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r)
            grid.setCell(0, r, rows[r]);
    }
};

TEST_F(AnnounceTest, AdminMessagesGoToTheCheckedTeams)
{
    struct Case
    {
        bool mec, usmc;
        const char* name;
        const char* message;
        Lines commands;
        Lines log;
    };
    const QList<Case> cases = {
        {true,
         false,
         "Ops",
         "hi",
         {framed("exec game.sayTeam 1 \"Admin: Ops - hi\"")},
         {"Message sent to MEC/China..."}},
        {false, true, "Ops", "hi", {framed("exec game.sayTeam 2 \"Admin: Ops - hi\"")}, {"Message sent to USMC..."}},
        {true,
         true,
         "Ops",
         "say \"go\"",
         {framed("exec game.sayAll \"Admin: Ops - say \"go\"\"")},
         {"Message sent to all..."}},
        {true, true, "", "", {framed("exec game.sayAll \"Admin:  - \"")}, {"Message sent to all..."}},
        {false, false, "Ops", "hi", {}, {}},
    };
    connectAndLogin();
    for (const Case& c : cases) {
        const qsizetype logMark = logLines().size();
        const qsizetype sentMark = commandsAfterLogin().size();
        control<QCheckBox>("mecCheck").setChecked(c.mec);
        control<QCheckBox>("usmcCheck").setChecked(c.usmc);
        edit("chatNameEdit").setText(QLatin1String(c.name));
        edit("messageEdit").setText(QLatin1String(c.message));
        button("sendMessageButton").click();
        WaitUntil([&] { return commandsAfterLogin().size() >= sentMark + c.commands.size(); });
        SpinEventLoop(std::chrono::milliseconds(c.commands.isEmpty() ? 30 : 0));
        EXPECT_EQ(commandsAfterLogin().mid(sentMark), c.commands) << c.message;
        EXPECT_EQ(logLinesSince(logMark), c.log) << c.message;
    }
    ASSERT_EQ(server().game().chat().size(), 4);
    EXPECT_EQ(server().game().chat()[0].team, 1);
    EXPECT_EQ(server().game().chat()[1].team, 2);
}

TEST_F(AnnounceTest, TheAnnouncerCyclesThroughEveryRowEmptyOnesIncluded)
{
    removeFile(QStringLiteral("servermessages.dat"));
    connectAndLogin();
    ASSERT_EQ(control<StringGrid>("announcementGrid").rowCount(), 20);
    control<StringGrid>("announcementGrid").setCell(0, 0, "Welcome");
    control<QCheckBox>("autoAnnounceCheck").setChecked(true);

    const Lines sent = tick(41);
    for (int i = 0; i < sent.size(); ++i) {
        const QByteArray expected = i % 20 == 0 ? "exec game.sayAll \"Welcome\"" : "exec game.sayAll \"\"";
        EXPECT_EQ(sent[i], framed(expected)) << "tick " << i;
    }
    EXPECT_EQ(sent.size(), 41);
    EXPECT_EQ(logLines(), Lines({"Connecting to 127.0.0.1", "Authentication successful"})) << "ticks log nothing";
}

TEST_F(AnnounceTest, TheAnnouncerKeepsItsPlaceAndRestartsWhenTheTableShrinksPastIt)
{
    connectAndLogin();
    fillTable({"a", "b", "c", "d", "e"});
    control<QCheckBox>("autoAnnounceCheck").setChecked(true);
    EXPECT_EQ(tick(2), Lines({framed("exec game.sayAll \"a\""), framed("exec game.sayAll \"b\"")}));

    control<QCheckBox>("autoAnnounceCheck").setChecked(false);
    tickOnce();
    control<QCheckBox>("autoAnnounceCheck").setChecked(true);
    EXPECT_EQ(tick(2), Lines({framed("exec game.sayAll \"c\""), framed("exec game.sayAll \"d\"")}))
        << "off and on again continues with the next row";

    button("removeLineButton").click();
    button("removeLineButton").click();
    EXPECT_EQ(tick(1), Lines({framed("exec game.sayAll \"a\"")})) << "row 4 is gone: start again at row 0";
    EXPECT_EQ(tick(1), Lines({framed("exec game.sayAll \"b\"")})) << "a row that still exists is sent";
    EXPECT_EQ(tick(2), Lines({framed("exec game.sayAll \"c\""), framed("exec game.sayAll \"a\"")}))
        << "rows taken off are not announced";

    button("addLineButton").click();
    EXPECT_EQ(control<StringGrid>("announcementGrid").cell(0, 3), QByteArray("d"))
        << "a row added back shows its text again";
}

TEST_F(AnnounceTest, NothingIsAnnouncedWhileNotConnectedAndThePlaceIsKept)
{
    fillTable({"a", "b", "c"});
    control<QCheckBox>("autoAnnounceCheck").setChecked(true);
    tickOnce();
    EXPECT_TRUE(logLines().isEmpty());

    connectAndLogin();
    EXPECT_EQ(tick(2), Lines({framed("exec game.sayAll \"a\""), framed("exec game.sayAll \"b\"")}));
    button("disconnectButton").click();
    const qsizetype mark = logLines().size();
    tickOnce();
    EXPECT_TRUE(logLinesSince(mark).isEmpty());
    connectAndLogin();
    EXPECT_EQ(tick(1), Lines({framed("exec game.sayAll \"c\"")})) << "the place survives the reconnect";
}

TEST_F(AnnounceTest, RemoveLineNeverLeavesFewerThanOneRow)
{
    fillTable({"only"});
    button("removeLineButton").click();
    EXPECT_EQ(control<StringGrid>("announcementGrid").rowCount(), 1);
    EXPECT_EQ(control<StringGrid>("announcementGrid").cell(0, 0), QByteArray("only"));
}

TEST_F(AnnounceTest, ThePeriodFollowsTheDelayFromStartUpOn)
{
    writeFile(QStringLiteral("settings.ini"), "[Settings]\r\ndelay=0x1E\r\n");
    EXPECT_EQ(control<SpinEdit>("delaySpin").textValue(), 30);
    EXPECT_EQ(control<QTimer>("announceTimer").interval(), 30000) << "the stored delay goes through the change handler";

    for (const auto& [delay, period] : {std::pair{5, 5000}, std::pair{1000, 1000000}, std::pair{100, 100000}}) {
        control<SpinEdit>("delaySpin").setValue(delay);
        EXPECT_EQ(control<QTimer>("announceTimer").interval(), period);
    }
    EXPECT_TRUE(control<QTimer>("announceTimer").isActive());

    // The same period again does not start the countdown afresh: it goes on from where it was.
    SpinEventLoop(std::chrono::milliseconds(40));
    QTimer& timer = control<QTimer>("announceTimer");
    const int remaining = timer.remainingTime();
    SpinEdit& delay = control<SpinEdit>("delaySpin");
    emit delay.textChanged(delay.text());
    EXPECT_TRUE(timer.isActive());
    EXPECT_GT(timer.remainingTime(), 0);
    EXPECT_LE(timer.remainingTime(), remaining);
}
