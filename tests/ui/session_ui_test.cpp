// Connecting through the real window: the login box, the Connect and
// Disconnect buttons, the status bar and the error box. The protocol itself
// is tested against the session alone (tests/unit/session_test.cpp).

#include "app/spin_edit.h"
#include "app/text_codec.h"
#include "core/errors.h"
#include "window_fixture.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

namespace {
using Lines = QList<QByteArray>;
} // namespace

class SessionUiTest : public WindowTest
{
};

TEST_F(SessionUiTest, TheButtonsConnectLogInAndDisconnectWithTheTypedPassword)
{
    struct Case
    {
        QByteArray typedPassword;
        Lines log;
        QByteArray status;
    };
    const QList<Case> cases = {
        {"secret", {"Connecting to localhost", "Authentication successful"}, "Connected to localhost"},
        {"wrong", {"Connecting to localhost", "Authentication Failed", "Disconnected..."}, "Disconnected"},
    };
    for (const Case& c : cases) {
        createWindow();
        fill("serverAddressEdit", "localhost");
        fill("portEdit", QByteArray::number(server().port()));
        fill("passwordEdit", c.typedPassword);
        button("connectButton").click();
        EXPECT_TRUE(WaitUntil([&] { return status() == c.status; })) << c.typedPassword.constData();
        SpinEventLoop(std::chrono::milliseconds(60));
        EXPECT_EQ(logLines(), c.log);

        const qsizetype mark = logLines().size();
        button("disconnectButton").click();
        const bool wasConnected = c.status.startsWith("Connected");
        EXPECT_EQ(logLinesSince(mark), wasConnected ? Lines({"Disconnected..."}) : Lines());
        EXPECT_EQ(status(), "Disconnected") << "set before the click returns";
    }
}

// The login answers the greeting with the password in the box at that moment,
// not the one that was there when Connect was pressed.
TEST_F(SessionUiTest, TheLoginTakesThePasswordAsItStandsWhenTheGreetingArrives)
{
    fill("serverAddressEdit", "127.0.0.1");
    fill("portEdit", QByteArray::number(server().port()));
    fill("passwordEdit", "wrong");
    button("connectButton").click();
    fill("passwordEdit", "secret"); // the stock server greets a frame later
    EXPECT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; })) << status().constData();
}

TEST_F(SessionUiTest, APortThatIsNotANumberShowsTheErrorBoxAndStartsNothing)
{
    for (const char* port : {"12a", " ", "70000x", "2147483648"}) {
        createWindow();
        dialogs_->shown.clear();
        fill("serverAddressEdit", "some.host");
        fill("portEdit", port);
        button("connectButton").click();

        ASSERT_EQ(dialogs_->shown.size(), 1) << port;
        EXPECT_EQ(dialogs_->shown[0].kind, QStringLiteral("error"));
        EXPECT_EQ(dialogs_->shown[0].title, applicationTitle(QCoreApplication::applicationFilePath()));
        EXPECT_EQ(dialogs_->shown[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(port));
        SpinEventLoop(std::chrono::milliseconds(20));
        EXPECT_TRUE(logLines().isEmpty()) << "no attempt was started";
        EXPECT_EQ(status(), "");
    }
}

// Enter in the address or the port connects; under a locale with digits of
// its own the delay box still shows, reads and saves the digits of settings.ini.
TEST_F(SessionUiTest, EnterInTheLoginConnectsAndTheDelayKeepsItsDigits)
{
    const std::pair<QLocale, const char*> cases[] = {{QLocale::c(), "serverAddressEdit"},
                                                     {QLocale(QLocale::Arabic, QLocale::Egypt), "portEdit"}};
    const QLocale usual;
    for (const auto& [locale, box] : cases) {
        QLocale::setDefault(locale);
        writeFile(QStringLiteral("settings.ini"), "[Settings]\r\ndelay=20\r\n");
        createWindow();
        SpinEdit& delay = control<SpinEdit>("delaySpin");
        EXPECT_EQ(delay.text(), QStringLiteral("20")) << box;
        QTest::keyClick(&delay, Qt::Key_Up);
        EXPECT_EQ(std::pair(delay.text(), delay.textValue()), std::pair(QStringLiteral("25"), 25));

        fill("serverAddressEdit", "127.0.0.1");
        fill("portEdit", QByteArray::number(server().port()));
        fill("passwordEdit", "secret");
        QTest::keyClick(&edit(box), Qt::Key_Return);
        EXPECT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; })) << box;
        window().close();
        EXPECT_TRUE(readFile(QStringLiteral("settings.ini")).contains("\r\ndelay=25\r\n")) << box;
    }
    QLocale::setDefault(usual);
}
