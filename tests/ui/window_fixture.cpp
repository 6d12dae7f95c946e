#include "window_fixture.h"

#include "app/list_box.h"
#include "app/text_codec.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

std::optional<QString> AnsweringDialogs::inputQuery(QWidget*, const QString& title, const QString& prompt,
                                                    int maxLength, const QString& text)
{
    shown.append({QStringLiteral("input"), title, prompt, maxLength, text});
    return inputAnswer;
}

bool AnsweringDialogs::askYesNo(QWidget*, const QString& caption, const QString& text)
{
    shown.append({QStringLiteral("yesno"), caption, text});
    return yesAnswer;
}

void AnsweringDialogs::showError(QWidget*, const QString& title, const QString& text)
{
    shown.append({QStringLiteral("error"), title, text});
}

void AnsweringDialogs::showModal(QDialog& dialog)
{
    shown.append({QStringLiteral("modal"), dialog.windowTitle(), {}});
    modalDialogs.append(&dialog);
    if (onModal)
        onModal(dialog);
}

std::optional<SaveChoice> AnsweringDialogs::askSaveFile(QWidget*, const QString& title, const QString& suggestedPath,
                                                        const QStringList& filters)
{
    shown.append({QStringLiteral("save"), title, suggestedPath + u'|' + filters.join(u'|')});
    return saveAnswer;
}

QList<QString> AnsweringDialogs::errors() const
{
    QList<QString> texts;
    for (const Box& box : shown)
        if (box.kind == QLatin1String("error"))
            texts.append(box.text);
    return texts;
}

bool RecordingDesktop::openFolder(const QString& path)
{
    openedFolders.append(path);
    return true;
}

void RecordingDesktop::notify(const QString& summary, const QString& body)
{
    notifications.append({summary, body});
}

void MemoryKeyring::read(const QString& key, std::function<void(std::optional<QByteArray>)> done)
{
    const std::optional<QByteArray> password = available && passwords.contains(key)
        ? std::optional(passwords.value(key))
        : std::nullopt;
    QTimer::singleShot(0, [done, password] { done(password); });
}

void MemoryKeyring::write(const QString& key, const QByteArray& password, std::function<void(QString)> done)
{
    if (available)
        passwords.insert(key, password);
    const QString error = available ? QString() : QStringLiteral("No keyring");
    QTimer::singleShot(0, [done, error] { done(error); });
}

void MemoryKeyring::remove(const QString& key)
{
    passwords.remove(key);
}

void WindowTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    writeFile(QStringLiteral("maps.dat"), "strike_at_karkand gpm_cq 64\r\ngulf_of_oman\r\n");
    writeFile(QStringLiteral("servermessages.dat"), "1\r\n3\r\nfirst\r\nsecond\r\n\r\n");
}

void WindowTest::TearDown()
{
    destroyWindow();
    server_.reset();
    QDir::setCurrent(previousDir_);
}

void WindowTest::writeFile(const QString& name, const QByteArray& contents)
{
    QFile file(dir_.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

void WindowTest::removeFile(const QString& name)
{
    QFile::remove(dir_.filePath(name));
}

QByteArray WindowTest::readFile(const QString& name) const
{
    QFile file(dir_.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

MainWindow& WindowTest::createWindow(const QString& folder)
{
    destroyWindow();
    window_ = std::make_unique<MainWindow>(windowOptions(folder));
    return *window_;
}

MainWindowOptions WindowTest::windowOptions(const QString& folder) const
{
    const QDir files(folder.isEmpty() ? dir_.path() : folder);
    MainWindowOptions options;
    options.settingsPath = files.filePath(QStringLiteral("settings.ini"));
    options.mapsPath = files.filePath(QStringLiteral("maps.dat"));
    options.announcementsPath = files.filePath(QStringLiteral("servermessages.dat"));
    options.commandHistoryPath = files.filePath(QStringLiteral("console_history"));
    options.auditLogFolder = auditLogFolder_;
    options.auditLogDayCap = auditLogDayCap_;
    options.savedServersPath = savedServersPath_;
    options.storeUrl = storeUrl_;
    options.dialogs = dialogs_;
    options.desktop = desktop_;
    options.passwordStore = keyring_;
    options.replyTimeout = replyTimeout_;
    options.connectTimeout = connectTimeout_;
    options.reconnectHeldAfter = reconnectHeldAfter_;
    return options;
}

MainWindow& WindowTest::window()
{
    return window_ ? *window_ : createWindow();
}

void WindowTest::destroyWindow()
{
    window_.reset();
}

QPushButton& WindowTest::button(const char* name)
{
    return control<QPushButton>(name);
}

QLineEdit& WindowTest::edit(const char* name)
{
    return control<QLineEdit>(name);
}

ListBox& WindowTest::list(const char* name)
{
    return control<ListBox>(name);
}

void WindowTest::fill(const char* name, const QByteArray& text)
{
    edit(name).setText(toDisplay(text));
}

RconSimServer& WindowTest::server()
{
    if (!server_) {
        server_ = std::make_unique<RconSimServer>(serverOptions_);
        EXPECT_TRUE(server_->listen()) << server_->errorString().toStdString();
    }
    return *server_;
}

RconSimServer& WindowTest::replaceServer(const RconSimOptions& options)
{
    server_.reset();
    serverOptions_ = options;
    return server();
}

void WindowTest::connectAndLogin(const QByteArray& password)
{
    RconSimServer& sim = server();
    fill("serverAddressEdit", "127.0.0.1");
    fill("portEdit", QByteArray::number(sim.port()));
    fill("passwordEdit", password);
    button("connectButton").click();
    ASSERT_TRUE(WaitUntil([&] { return status() == "Connected to 127.0.0.1"; })) << "status: " << status().constData();
    linesAtLogin_ = sim.receivedLines().size();
}

QList<QByteArray> WindowTest::commandsAfterLogin() const
{
    return server_ ? server_->receivedLines().mid(linesAtLogin_) : QList<QByteArray>();
}

QList<QByteArray> WindowTest::sentBy(const std::function<void()>& action, qsizetype expected)
{
    const qsizetype before = commandsAfterLogin().size();
    action();
    EXPECT_TRUE(WaitUntil([&] { return commandsAfterLogin().size() >= before + expected; }));
    // The stock server takes one line a frame: two frames more show a line too many.
    SpinEventLoop(std::chrono::milliseconds(100));
    return commandsAfterLogin().mid(before);
}

QList<QByteArray> WindowTest::logLines()
{
    QList<QByteArray> lines;
    const QString text = control<QPlainTextEdit>("logView").toPlainText();
    if (text.isEmpty())
        return lines;
    for (const QString& line : text.split(QChar(u'\n')))
        lines.append(toBytes(line));
    return lines;
}

QList<QByteArray> WindowTest::logLinesSince(qsizetype mark)
{
    return logLines().mid(mark);
}

QByteArray WindowTest::status()
{
    return window_ ? toBytes(control<QLabel>("statusLabel").text()) : QByteArray();
}
