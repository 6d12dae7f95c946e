#include "desired/state_reader.h"

#include "admin/list_fields.h"
#include "core/windows1252.h"
#include "watch/poll_diff.h"

#include <algorithm>
#include <utility>

namespace {

// A reply's text without the line end the server puts after a value; blanks
// are part of the value.
QByteArray withoutLineEnd(QByteArray text)
{
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    return text;
}

bool isUnknownCommand(QByteArrayView reply)
{
    const QByteArray start =
        reply.trimmed().first(std::min<qsizetype>(reply.trimmed().size(), 32)).toByteArray().toLower();
    return start.startsWith("unknown object or method") || start.startsWith("unknown command");
}

// A setting's name goes on the wire after "exec "; one that is not a single
// word would send more than a read.
bool isSettingName(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return false;
    }
    return true;
}

std::optional<StateBan> stateBanFrom(const SeenBan& seen)
{
    StateBan ban;
    const std::optional<QByteArray> bytes = windows1252::encode(seen.ban);
    if (!bytes)
        return std::nullopt;
    ban.ban = *bytes;
    ban.isAddress = seen.isAddress;
    if (seen.period == QLatin1String("Perm")) {
        ban.period = StateBan::Period::Perm;
    } else if (seen.period == QLatin1String("Round")) {
        ban.period = StateBan::Period::Round;
    } else if (seen.secondsLeft) {
        ban.period = StateBan::Period::Seconds;
        ban.seconds = *seen.secondsLeft;
    } else {
        return std::nullopt;
    }
    return ban;
}

} // namespace

QString StateFailure::message() const
{
    const QString what = windows1252::decode(command);
    const QString answer = windows1252::decode(withoutLineEnd(reply));
    switch (kind) {
    case Kind::ConnectionLost: return QStringLiteral("The connection was lost at \"%1\"").arg(what);
    case Kind::ReplyRefused: return QStringLiteral("The server refused \"%1\": %2").arg(what, answer);
    case Kind::UnknownSetting: {
        const QString name = what.startsWith(QLatin1String("exec ")) ? what.mid(5) : what;
        return QStringLiteral("%1 is not a setting of this server").arg(name);
    }
    case Kind::Unreadable: return QStringLiteral("The reply to \"%1\" could not be read: %2").arg(what, answer);
    }
    return {};
}

bool replyRefuses(QByteArrayView reply)
{
    return reply.trimmed().toByteArray().toLower().startsWith("error:") || isUnknownCommand(reply);
}

std::optional<QList<RotationEntry>> rotationFrom(QByteArrayView reply)
{
    QList<RotationEntry> rotation;
    for (const QByteArray& line : reply.toByteArray().split('\n')) {
        const QByteArray entry = withoutLineEnd(line);
        if (entry.trimmed().isEmpty())
            continue;
        const list_fields::MapFields fields = list_fields::mapFields(entry);
        if (fields.index != rotation.size() || !fields.name || !fields.mode || !fields.size)
            return std::nullopt;
        rotation.append({*fields.name, *fields.mode, int(*fields.size)});
    }
    return rotation;
}

StateReader::StateReader(CommandSender send, QList<QByteArray> settings, QObject* parent)
    : QObject(parent)
    , send_(std::move(send))
    , settingNames_(std::move(settings))
{ }

void StateReader::start()
{
    if (awaited_)
        disconnect(awaited_, nullptr, this, nullptr);
    awaited_ = nullptr;
    reading_ = true;
    state_ = {};
    nextSetting_ = 0;
    ask("exec maplist.list", &StateReader::takeRotation);
}

void StateReader::ask(const QByteArray& command, void (StateReader::*next)(const CommandReply&))
{
    CommandReply* reply = send_(command);
    if (!reply) {
        fail(StateFailure::Kind::ConnectionLost, command);
        return;
    }
    awaited_ = reply;
    connect(reply, &CommandReply::finished, this, [this, reply, next] {
        awaited_ = nullptr;
        if (reply->state() != CommandReply::State::Answered)
            fail(StateFailure::Kind::ConnectionLost, reply->command());
        else
            (this->*next)(*reply);
    });
}

void StateReader::takeRotation(const CommandReply& reply)
{
    if (replyRefuses(reply.text()))
        return fail(StateFailure::Kind::ReplyRefused, reply.command(), reply.text());
    std::optional<QList<RotationEntry>> rotation = rotationFrom(reply.text());
    if (!rotation)
        return fail(StateFailure::Kind::Unreadable, reply.command(), reply.text());
    state_.rotation = std::move(*rotation);
    readNextSetting();
}

void StateReader::readNextSetting()
{
    if (nextSetting_ >= settingNames_.size()) {
        ask("exec admin.listBannedKeys", &StateReader::takeKeyBans);
        return;
    }
    const QByteArray& name = settingNames_[nextSetting_];
    if (!isSettingName(name))
        return fail(StateFailure::Kind::UnknownSetting, name);
    ask("exec " + name, &StateReader::takeSetting);
}

void StateReader::takeSetting(const CommandReply& reply)
{
    // A value may well start "error:" (a welcome message); only an unknown
    // command says the setting is not there.
    if (isUnknownCommand(reply.text()))
        return fail(StateFailure::Kind::UnknownSetting, reply.command(), reply.text());
    state_.settings.insert(settingNames_[nextSetting_], withoutLineEnd(reply.text()));
    ++nextSetting_;
    readNextSetting();
}

void StateReader::takeKeyBans(const CommandReply& reply)
{
    if (replyRefuses(reply.text()))
        return fail(StateFailure::Kind::ReplyRefused, reply.command(), reply.text());
    // Time left is counted from here.
    state_.readAt = QDateTime::currentDateTimeUtc();
    for (const SeenBan& seen : keyBansFrom(reply.entries())) {
        const std::optional<StateBan> ban = stateBanFrom(seen);
        if (!ban)
            return fail(StateFailure::Kind::Unreadable, reply.command(), reply.text());
        state_.bans.append(*ban);
    }
    ask("exec admin.listBannedAddresses", &StateReader::takeAddressBans);
}

void StateReader::takeAddressBans(const CommandReply& reply)
{
    if (replyRefuses(reply.text()))
        return fail(StateFailure::Kind::ReplyRefused, reply.command(), reply.text());
    for (const SeenBan& seen : addressBansFrom(reply.text())) {
        const std::optional<StateBan> ban = stateBanFrom(seen);
        if (!ban)
            return fail(StateFailure::Kind::Unreadable, reply.command(), reply.text());
        state_.bans.append(*ban);
    }
    reading_ = false;
    emit read(state_);
}

void StateReader::fail(StateFailure::Kind kind, const QByteArray& command, const QByteArray& reply)
{
    reading_ = false;
    emit failed({kind, command, reply});
}
