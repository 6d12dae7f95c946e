#include "form_fixture.h"

#include "app/text_codec.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

std::optional<QString> AnsweringDialogs::InputQuery(QWidget*, const QString& title, const QString& prompt,
                                                    int maxLength)
{
    shown.append({QStringLiteral("input"), title, prompt, maxLength});
    if (inputAnswer)
        return inputAnswer->left(maxLength);
    return std::nullopt;
}

bool AnsweringDialogs::AskYesNo(QWidget*, const QString& caption, const QString& text)
{
    shown.append({QStringLiteral("yesno"), caption, text});
    return yesAnswer;
}

void AnsweringDialogs::ShowError(QWidget*, const QString& title, const QString& text)
{
    shown.append({QStringLiteral("error"), title, text});
}

void AnsweringDialogs::ShowModal(QDialog& dialog)
{
    shown.append({QStringLiteral("modal"), {}, {}});
    modalDialogs.append(&dialog);
}

QList<QString> AnsweringDialogs::Errors() const
{
    QList<QString> errors;
    for (const Box& box : shown)
        if (box.kind == QLatin1String("error"))
            errors.append(box.text);
    return errors;
}

QByteArray Framed(const QByteArray& command)
{
    return '\x02' + command;
}

QList<QByteArray> ListingEntries(const QByteArray& listing, bool pairs)
{
    QList<QByteArray> lines = listing.split('\n');
    lines.removeLast();
    if (!pairs)
        return lines;
    QList<QByteArray> joined;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2)
        joined.append(lines[i] + lines[i + 1]);
    return joined;
}

void FormTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    WriteFile(QStringLiteral("maps.dat"), "strike_at_karkand gpm_cq 64\r\ngulf_of_oman\r\n");
    WriteFile(QStringLiteral("servermessages.dat"), "1\r\n3\r\nfirst\r\nsecond\r\n\r\n");
}

void FormTest::TearDown()
{
    DestroyForm();
    server_.reset();
    QDir::setCurrent(previousDir_);
}

void FormTest::WriteFile(const QString& name, const QByteArray& contents)
{
    QFile file(dir_.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

void FormTest::RemoveFile(const QString& name)
{
    QFile::remove(dir_.filePath(name));
}

QByteArray FormTest::ReadFile(const QString& name) const
{
    QFile file(dir_.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TMainForm& FormTest::CreateForm()
{
    DestroyForm();
    form_ = std::make_unique<TMainForm>(TMainForm::Options{SettingsPath(), dialogs_, replyTimeout_});
    return *form_;
}

TMainForm& FormTest::Form()
{
    return form_ ? *form_ : CreateForm();
}

void FormTest::DestroyForm()
{
    form_.reset();
}

RconSimServer& FormTest::Server()
{
    if (!server_) {
        server_ = std::make_unique<RconSimServer>(serverOptions_);
        EXPECT_TRUE(server_->Listen()) << server_->ErrorString().toStdString();
    }
    return *server_;
}

RconSimServer& FormTest::ReplaceServer(const RconSimOptions& options)
{
    server_.reset();
    serverOptions_ = options;
    return Server();
}

void FormTest::ConnectAndLogin(const QByteArray& password)
{
    TMainForm& form = Form();
    RconSimServer& server = Server();
    form.IPEdit->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::number(server.Port()));
    form.PasswordEdit->setText(ToDisplay(password));
    form.ConnectButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Status() == "Connected to 127.0.0.1"; })) << "status: " << Status().constData();
    linesAtLogin_ = server.ReceivedLines().size();
}

QList<QByteArray> FormTest::WaitForLines(qsizetype count)
{
    RconSimServer& server = Server();
    WaitUntil([&] { return server.ReceivedLines().size() >= count; });
    return server.ReceivedLines();
}

QList<QByteArray> FormTest::CommandsAfterLogin() const
{
    return server_ ? server_->ReceivedLines().mid(linesAtLogin_) : QList<QByteArray>();
}

QList<QByteArray> FormTest::LogLines() const
{
    QList<QByteArray> lines;
    const QString text = form_->LogMemo->toPlainText();
    if (text.isEmpty())
        return lines;
    for (const QString& line : text.split(QChar(u'\n')))
        lines.append(ToBytes(line));
    return lines;
}

QList<QByteArray> FormTest::LogLinesSince(qsizetype mark) const
{
    return LogLines().mid(mark);
}

QByteArray FormTest::Status() const
{
    return form_ ? ToBytes(form_->StatusPanel0->text()) : QByteArray();
}
