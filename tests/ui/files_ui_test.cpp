// The three local files through the real window: what start-up loads, what
// closing and Save write, and that no failure loses what was stored.

#include "app/list_box.h"
#include "app/spin_edit.h"
#include "app/string_grid.h"
#include "app/text_codec.h"
#include "form_fixture.h"
#include "storage/password_scramble.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

namespace {

using Lines = QList<QByteArray>;

Lines Rows(const TStringGrid& grid)
{
    Lines rows;
    for (int r = 0; r < grid.RowCount(); ++r)
        rows.append(grid.Cell(0, r));
    return rows;
}

} // namespace

class FilesTest : public FormTest
{
};

TEST_F(FilesTest, StartUpLoadsEachFileOnItsOwn)
{
    struct Case
    {
        const char* name;
        const char* missing; // a file removed before start-up
        QByteArray messages; // servermessages.dat, when not missing
        QList<QString> errors;
        Lines localMaps;
        Lines rows;
    };
    const Lines maps = {"strike_at_karkand gpm_cq 64", "gulf_of_oman"};
    const Lines designed(20);
    const QList<Case> cases = {
        {"all present", nullptr, "1\r\n2\r\nhello\r\nworld\r\n", {}, maps, {"hello", "world"}},
        {"no maps.dat", "maps.dat", "1\r\n2\r\nhello\r\nworld\r\n", {"File not found."}, {}, {"hello", "world"}},
        {"no servermessages.dat", "servermessages.dat", {}, {"File not found."}, maps, designed},
        {"a count that is not a number", nullptr, "1\r\n2x\r\nhello\r\n", {"Invalid numeric input."}, maps, designed},
        {"an empty table file", nullptr, "", {}, maps, {""}},
    };
    for (const Case& c : cases) {
        WriteFile(QStringLiteral("maps.dat"), "strike_at_karkand gpm_cq 64\ngulf_of_oman\x1aignored\r\n");
        WriteFile(QStringLiteral("servermessages.dat"), c.messages);
        if (c.missing)
            RemoveFile(QLatin1String(c.missing));
        dialogs_->shown.clear();
        TMainForm& form = CreateForm();
        EXPECT_EQ(dialogs_->Errors(), c.errors) << c.name;
        EXPECT_EQ(form.LocalMapsListBox->Items(), c.localMaps) << c.name;
        EXPECT_EQ(Rows(*form.AnnounceStringGrid), c.rows) << c.name;
    }
}

TEST_F(FilesTest, FirstStartWithoutSettingsLeavesTheDesignedValues)
{
    TMainForm& form = Form();
    for (QLineEdit* edit : {form.IPEdit, form.PortEdit, form.PasswordEdit, form.UsernameEdit})
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
    EXPECT_EQ(form.DelaySpinEdit->Value(), 10);
    EXPECT_TRUE(dialogs_->Errors().isEmpty());
}

TEST_F(FilesTest, ClosingAndReopeningKeepsTheFiveSettings)
{
    {
        TMainForm& form = CreateForm();
        form.IPEdit->setText(QStringLiteral("game.example"));
        form.PortEdit->setText(QStringLiteral("port?"));
        form.PasswordEdit->setText(QStringLiteral("s3cr\u00e9t pass"));
        form.DelaySpinEdit->SetValue(35);
        form.UsernameEdit->setText(QStringLiteral("Ops"));
        form.Exit1->trigger();
    }
    const QByteArray stored = ReadFile(QStringLiteral("settings.ini"));
    EXPECT_TRUE(stored.contains("password=" + Encrypt("s3cr\xe9t pass") + "\r\n")) << stored.constData();
    EXPECT_FALSE(stored.contains("s3cr")) << "the password is never stored plain";
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(SettingsPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    TMainForm& form = CreateForm();
    EXPECT_EQ(form.IPEdit->text(), QStringLiteral("game.example"));
    EXPECT_EQ(form.PortEdit->text(), QStringLiteral("port?"));
    EXPECT_EQ(form.PasswordEdit->text(), QStringLiteral("s3cr\u00e9t pass"));
    EXPECT_EQ(form.DelaySpinEdit->Value(), 35);
    EXPECT_EQ(form.UsernameEdit->text(), QStringLiteral("Ops"));
}

TEST_F(FilesTest, StoredDelaysAreBroughtIntoRange)
{
    for (const auto& [text, delay] :
         {std::pair{"3", 5}, std::pair{"5000", 1000}, std::pair{"$1E", 30}, std::pair{"junk", 10}, std::pair{"7", 7}}) {
        WriteFile(QStringLiteral("settings.ini"), QByteArray("; mine\r\n[Settings]\r\ndelay=") + text + "\r\n");
        EXPECT_EQ(CreateForm().DelaySpinEdit->Value(), delay) << text;
    }
}

TEST_F(FilesTest, ARefusedSettingsWriteIsShownAndTheWindowStillCloses)
{
    WriteFile(QStringLiteral("settings.ini"), "[Settings]\r\nipaddress=kept\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(SettingsPath()).constData(), 0444), 0);
    TMainForm& form = CreateForm();
    form.show();
    form.IPEdit->setText(QStringLiteral("changed"));
    form.Exit1->trigger();
    EXPECT_EQ(dialogs_->Errors(), QList<QString>({"Unable to write to " + SettingsPath() + "."}));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ReadFile(QStringLiteral("settings.ini")), QByteArray("[Settings]\r\nipaddress=kept\r\n"));
}

TEST_F(FilesTest, SaveWritesTheTableAndNeverDestroysTheStoredOne)
{
    RemoveFile(QStringLiteral("servermessages.dat"));
    TMainForm& form = CreateForm();
    form.SaveButton->click();
    EXPECT_EQ(ReadFile(QStringLiteral("servermessages.dat")), "1\r\n20\r\n" + QByteArray("\r\n").repeated(20));

    form.AnnounceStringGrid->SetCell(0, 0, "hello");
    form.AddLineButton->click();
    form.SaveButton->click();
    EXPECT_TRUE(ReadFile(QStringLiteral("servermessages.dat")).startsWith("1\r\n21\r\nhello\r\n"));

    const QByteArray stored = ReadFile(QStringLiteral("servermessages.dat"));
    const QByteArray path = QFile::encodeName(WorkPath(QStringLiteral("servermessages.dat")));
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    dialogs_->shown.clear();
    form.AnnounceStringGrid->SetCell(0, 0, "lost?");
    form.SaveButton->click();
    EXPECT_EQ(dialogs_->Errors(), QList<QString>({"File access denied."}));
    EXPECT_EQ(ReadFile(QStringLiteral("servermessages.dat")), stored);
}
