// Admin messages and the automatic announcer, through the real window against
// the practice server. The announcer's ticks are driven by the test.

#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "form_fixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

using Lines = QList<QByteArray>;

} // namespace

class AnnounceTest : public FormTest
{
protected:
    // Ticks the announcer `count` times and returns the commands the server got.
    Lines Tick(int count)
    {
        const qsizetype before = CommandsAfterLogin().size();
        for (int i = 0; i < count; ++i)
            Form().AnnounceTimerTimer();
        WaitUntil([&] { return CommandsAfterLogin().size() >= before + count; });
        return CommandsAfterLogin().mid(before);
    }

    void FillTable(const Lines& rows)
    {
        TStringGrid& grid = *Form().AnnounceStringGrid;
        grid.SetRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r)
            grid.SetCell(0, r, rows[r]);
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
         {Framed("exec game.sayTeam 1 \"Admin: Ops - hi\"")},
         {"Message sent to MEC/China..."}},
        {false, true, "Ops", "hi", {Framed("exec game.sayTeam 2 \"Admin: Ops - hi\"")}, {"Message sent to USMC..."}},
        {true,
         true,
         "Ops",
         "say \"go\"",
         {Framed("exec game.sayAll \"Admin: Ops - say \"go\"\"")},
         {"Message sent to all..."}},
        {true, true, "", "", {Framed("exec game.sayAll \"Admin:  - \"")}, {"Message sent to all..."}},
        {false, false, "Ops", "hi", {}, {}},
    };
    ConnectAndLogin();
    TMainForm& form = Form();
    for (const Case& c : cases) {
        const qsizetype logMark = LogLines().size();
        const qsizetype sentMark = CommandsAfterLogin().size();
        form.MECCheckBox->setChecked(c.mec);
        form.USMCCheckBox->setChecked(c.usmc);
        form.UsernameEdit->setText(QLatin1String(c.name));
        form.MessageEdit->setText(QLatin1String(c.message));
        form.Button1->click();
        WaitUntil([&] { return CommandsAfterLogin().size() >= sentMark + c.commands.size(); });
        SpinEventLoop(std::chrono::milliseconds(c.commands.isEmpty() ? 30 : 0));
        EXPECT_EQ(CommandsAfterLogin().mid(sentMark), c.commands) << c.message;
        EXPECT_EQ(LogLinesSince(logMark), c.log) << c.message;
    }
    ASSERT_EQ(Server().Game().Chat().size(), 4);
    EXPECT_EQ(Server().Game().Chat()[0].team, 1);
    EXPECT_EQ(Server().Game().Chat()[1].team, 2);
}

TEST_F(AnnounceTest, TheAnnouncerCyclesThroughEveryRowEmptyOnesIncluded)
{
    RemoveFile(QStringLiteral("servermessages.dat"));
    ConnectAndLogin();
    TMainForm& form = Form();
    ASSERT_EQ(form.AnnounceStringGrid->RowCount(), 20);
    form.AnnounceStringGrid->SetCell(0, 0, "Welcome");
    form.AutoAnnounceCheckBox->setChecked(true);

    const Lines sent = Tick(41);
    for (int i = 0; i < sent.size(); ++i) {
        const QByteArray expected = i % 20 == 0 ? "exec game.sayAll \"Welcome\"" : "exec game.sayAll \"\"";
        EXPECT_EQ(sent[i], Framed(expected)) << "tick " << i;
    }
    EXPECT_EQ(sent.size(), 41);
    EXPECT_EQ(LogLines(), Lines({"Connecting to 127.0.0.1", "Authentication successful"})) << "ticks log nothing";
}

TEST_F(AnnounceTest, TheAnnouncerKeepsItsPlaceAndRestartsWhenTheTableShrinksPastIt)
{
    ConnectAndLogin();
    TMainForm& form = Form();
    FillTable({"a", "b", "c", "d", "e"});
    form.AutoAnnounceCheckBox->setChecked(true);
    EXPECT_EQ(Tick(2), Lines({Framed("exec game.sayAll \"a\""), Framed("exec game.sayAll \"b\"")}));

    form.AutoAnnounceCheckBox->setChecked(false);
    form.AnnounceTimerTimer();
    form.AutoAnnounceCheckBox->setChecked(true);
    EXPECT_EQ(Tick(2), Lines({Framed("exec game.sayAll \"c\""), Framed("exec game.sayAll \"d\"")}))
        << "off and on again continues with the next row";

    form.RemoveLineButton->click();
    form.RemoveLineButton->click();
    EXPECT_EQ(Tick(1), Lines({Framed("exec game.sayAll \"a\"")})) << "row 4 is gone: start again at row 0";
    EXPECT_EQ(Tick(1), Lines({Framed("exec game.sayAll \"b\"")})) << "a row that still exists is sent";
    EXPECT_EQ(Tick(2), Lines({Framed("exec game.sayAll \"c\""), Framed("exec game.sayAll \"a\"")}))
        << "rows taken off are not announced";

    form.AddLineButton->click();
    EXPECT_EQ(form.AnnounceStringGrid->Cell(0, 3), QByteArray("d")) << "a row added back shows its text again";
}

TEST_F(AnnounceTest, NothingIsAnnouncedWhileNotConnected)
{
    TMainForm& form = Form();
    form.AutoAnnounceCheckBox->setChecked(true);
    form.SessionState().announceRowIndex = 2;
    form.AnnounceTimerTimer();
    EXPECT_TRUE(LogLines().isEmpty());
    EXPECT_EQ(form.SessionState().announceRowIndex, 2);
}

TEST_F(AnnounceTest, RemoveLineNeverLeavesFewerThanOneRow)
{
    TMainForm& form = Form();
    FillTable({"only"});
    form.RemoveLineButton->click();
    EXPECT_EQ(form.AnnounceStringGrid->RowCount(), 1);
    EXPECT_EQ(form.AnnounceStringGrid->Cell(0, 0), QByteArray("only"));
}

TEST_F(AnnounceTest, ThePeriodFollowsTheDelayFromStartUpOn)
{
    WriteFile(QStringLiteral("settings.ini"), "[Settings]\r\ndelay=0x1E\r\n");
    TMainForm& form = Form();
    EXPECT_EQ(form.DelaySpinEdit->Value(), 30);
    EXPECT_EQ(form.AnnounceTimer->interval(), 30000) << "the stored delay goes through the change handler";

    for (const auto& [delay, period] : {std::pair{5, 5000}, std::pair{1000, 1000000}, std::pair{100, 100000}}) {
        form.DelaySpinEdit->SetValue(delay);
        EXPECT_EQ(form.AnnounceTimer->interval(), period);
    }
    EXPECT_TRUE(form.AnnounceTimer->isActive());

    // The same period again does not start the countdown afresh.
    SpinEventLoop(std::chrono::milliseconds(40));
    const int remaining = form.AnnounceTimer->remainingTime();
    form.DelaySpinEditChange();
    EXPECT_LE(form.AnnounceTimer->remainingTime(), remaining);
    EXPECT_LT(remaining, 100000);
}
