#include "watch/ban_sync.h"

#include "core/counted.h"
#include "core/windows1252.h"
#include "session/console_session.h"

#include <QHash>
#include <QSet>
#include <QTimer>
#include <QtNumeric>

#include <algorithm>

namespace {

// The bytes of a ban's text in a command, or nothing when a command cannot
// carry it: a line break or another control byte would end the line early
// and put a second command on the wire, and a blank would let the server take
// part of the text for the period.
std::optional<QByteArray> commandBytes(const QString& text)
{
    std::optional<QByteArray> bytes = windows1252::encode(text);
    if (!bytes || bytes->isEmpty()
        || std::any_of(bytes->cbegin(), bytes->cend(), [](char c) { return static_cast<unsigned char>(c) <= 0x20; }))
        return std::nullopt;
    return bytes;
}

QString keyOf(const QString& ban, bool isAddress)
{
    return (isAddress ? u'a' : u'k') + ban;
}

BanCopy copyOf(const SeenBan& ban)
{
    if (ban.period.compare(QStringLiteral("Perm"), Qt::CaseInsensitive) == 0)
        return BanCopy::Perm;
    if (ban.secondsLeft)
        return BanCopy::Timed;
    if (ban.period.compare(QStringLiteral("Round"), Qt::CaseInsensitive) == 0)
        return BanCopy::RoundOnly;
    return BanCopy::Unusable;
}

int strength(BanCopy copy)
{
    switch (copy) {
    case BanCopy::Perm: return 3;
    case BanCopy::Timed: return 2;
    case BanCopy::RoundOnly: return 1;
    case BanCopy::Unusable: return 0;
    }
    return 0;
}

// Whether a timed ban read as `seconds` left at `at` ends after `than` does.
bool endsLater(qint64 seconds, const QDateTime& at, const MissingBan& than)
{
    if (at.isValid() && than.readAt.isValid())
        return at.addSecs(seconds) > than.readAt.addSecs(*than.secondsLeft);
    return seconds > *than.secondsLeft;
}

// Takes what one more server says of a ban into what is known of it.
void merge(MissingBan& known, const SeenBan& seen, const QDateTime& readAt)
{
    const BanCopy copy = copyOf(seen);
    const bool better = strength(copy) > strength(known.copy)
        || (copy == BanCopy::Timed && known.copy == BanCopy::Timed && endsLater(*seen.secondsLeft, readAt, known));
    if (!better)
        return;
    known.copy = copy;
    known.secondsLeft = copy == BanCopy::Timed ? seen.secondsLeft : std::nullopt;
    known.readAt = readAt;
}

// A timed ban's time left at `now`, run down from when it was read, or
// nothing once it has run out. A server takes no ban of no time, so a part of
// a second left is a second; a clock set back gives no more than was read,
// and a time too large for the clock to matter is sent as read.
std::optional<qint64> secondsLeftAt(qint64 secondsRead, const QDateTime& readAt, const QDateTime& now)
{
    if (secondsRead <= 0)
        return std::nullopt;
    const qint64 passedMs = readAt.isValid() ? std::max<qint64>(0, readAt.msecsTo(now)) : 0;
    qint64 leftMs = 0;
    if (qMulOverflow(secondsRead, qint64(1000), &leftMs))
        return secondsRead;
    leftMs -= passedMs;
    if (leftMs <= 0)
        return std::nullopt;
    return std::max<qint64>(1, leftMs / 1000);
}

} // namespace

QList<ServerLack> missingBans(const QList<ServerBans>& servers)
{
    QList<MissingBan> known;
    QList<QSet<qsizetype>> holders; // for each ban known, the servers that have it
    QHash<QString, qsizetype> indexOf;
    for (qsizetype server = 0; server < servers.size(); ++server) {
        for (const SeenBan& ban : servers[server].bans) {
            const QString key = keyOf(ban.ban, ban.isAddress);
            qsizetype index = indexOf.value(key, -1);
            if (index < 0) {
                index = known.size();
                indexOf.insert(key, index);
                MissingBan first;
                first.ban = ban.ban;
                first.isAddress = ban.isAddress;
                first.copy = BanCopy::Unusable;
                known.append(first);
                holders.append(QSet<qsizetype>());
            }
            MissingBan& missing = known[index];
            if (!holders[index].contains(server)) {
                holders[index].insert(server);
                missing.sources.append(servers[server].server);
            }
            merge(missing, ban, servers[server].readAt);
        }
    }
    for (MissingBan& missing : known) {
        if (!commandBytes(missing.ban)) {
            missing.copy = BanCopy::Unusable;
            missing.secondsLeft.reset();
        }
    }
    QList<ServerLack> lacks;
    for (qsizetype server = 0; server < servers.size(); ++server) {
        ServerLack lack{servers[server].server, {}};
        for (qsizetype index = 0; index < known.size(); ++index) {
            if (!holders[index].contains(server))
                lack.missing.append(known[index]);
        }
        lacks.append(lack);
    }
    return lacks;
}

QByteArray addBanCommand(const QString& ban, bool isAddress, std::optional<qint64> seconds)
{
    const QByteArray period = seconds ? QByteArray::number(*seconds) : QByteArray("perm");
    return (isAddress ? "exec admin.addAddressToBanList " : "exec admin.addKeyToBanList ")
        + commandBytes(ban).value_or(QByteArray()) + ' ' + period;
}

QByteArray removeBanCommand(const QString& ban, bool isAddress)
{
    return (isAddress ? "exec admin.removeAddressFromBanList " : "exec admin.removeKeyFromBanList ")
        + commandBytes(ban).value_or(QByteArray());
}

QString failureText(BanSyncResult::Failure failure)
{
    switch (failure) {
    case BanSyncResult::Failure::None: return {};
    case BanSyncResult::Failure::NotSent: return QStringLiteral("not sent");
    case BanSyncResult::Failure::ConnectionLost: return QStringLiteral("connection lost");
    case BanSyncResult::Failure::NotPresent: return QStringLiteral("not present after re-read");
    case BanSyncResult::Failure::StillPresent: return QStringLiteral("still present after re-read");
    }
    return {};
}

QString syncSummary(const QString& server, const QList<BanSyncResult>& results)
{
    const bool removal = std::any_of(results.begin(), results.end(), [](const BanSyncResult& result) {
        return result.action == BanSyncResult::Action::Remove;
    });
    qsizetype done = 0;
    qsizetype expired = 0;
    qsizetype notCopyable = 0;
    QList<std::pair<BanSyncResult::Failure, qsizetype>> failures; // in the order first met
    qsizetype failed = 0;
    for (const BanSyncResult& result : results) {
        switch (result.outcome) {
        case BanSyncResult::Outcome::Copied:
        case BanSyncResult::Outcome::Removed: ++done; break;
        case BanSyncResult::Outcome::Expired: ++expired; break;
        case BanSyncResult::Outcome::NotCopyable: ++notCopyable; break;
        case BanSyncResult::Outcome::Failed: {
            ++failed;
            auto same = std::find_if(failures.begin(), failures.end(),
                                     [&](const auto& counted) { return counted.first == result.failure; });
            if (same == failures.end())
                failures.append({result.failure, 1});
            else
                ++same->second;
            break;
        }
        }
    }
    if (results.isEmpty())
        return server + (removal ? QStringLiteral(": nothing to remove") : QStringLiteral(": nothing to copy"));
    QStringList parts;
    parts.append(counted(done, "ban", "bans") + (removal ? QStringLiteral(" removed") : QStringLiteral(" copied")));
    if (failed > 0) {
        QStringList why;
        for (const auto& [failure, count] : failures)
            why.append(failures.size() == 1 ? failureText(failure)
                                            : QString::number(count) + u' ' + failureText(failure));
        parts.append(QString::number(failed) + QStringLiteral(" failed (") + why.join(QStringLiteral(", ")) + u')');
    }
    if (expired > 0)
        parts.append(QString::number(expired) + QStringLiteral(" expired"));
    if (notCopyable > 0)
        parts.append(QString::number(notCopyable) + QStringLiteral(" not copyable"));
    return server + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

struct BanCopier::Item
{
    QString ban;
    bool isAddress = false;
    BanCopy copy = BanCopy::Perm;
    std::optional<qint64> secondsLeft;
    QDateTime readAt;
    BanSyncResult result;
    bool answered = false; // sent, and answered: to be looked for at the re-read
};

struct BanCopier::Run
{
    QString server;
    Send send;
    BanSyncResult::Action action = BanSyncResult::Action::Copy;
    QList<Item> items;
    qsizetype next = 0;
    bool ended = false;
};

BanCopier::BanCopier(QObject* parent)
    : QObject(parent)
    , now_([] { return QDateTime::currentDateTimeUtc(); })
{ }

BanCopier::~BanCopier() = default;

bool BanCopier::copy(const QList<CopyPlan>& plans)
{
    if (isRunning())
        return false;
    std::vector<std::unique_ptr<Run>> runs;
    for (const CopyPlan& plan : plans) {
        auto run = std::make_unique<Run>();
        run->server = plan.server;
        run->send = plan.send;
        for (const MissingBan& ban : plan.bans)
            run->items.append({ban.ban, ban.isAddress, ban.copy, ban.secondsLeft, ban.readAt, {}, false});
        runs.push_back(std::move(run));
    }
    start(std::move(runs));
    return true;
}

bool BanCopier::remove(const QList<RemovalPlan>& plans)
{
    if (isRunning())
        return false;
    std::vector<std::unique_ptr<Run>> runs;
    for (const RemovalPlan& plan : plans) {
        auto run = std::make_unique<Run>();
        run->server = plan.server;
        run->send = plan.send;
        run->action = BanSyncResult::Action::Remove;
        for (const SeenBan& ban : plan.bans)
            run->items.append({ban.ban, ban.isAddress, copyOf(ban), ban.secondsLeft, {}, {}, false});
        runs.push_back(std::move(run));
    }
    start(std::move(runs));
    return true;
}

// The runs begin on the next turn of the event loop, so that whoever asked
// hears of every result, even of a plan with nothing to send.
void BanCopier::start(std::vector<std::unique_ptr<Run>> runs)
{
    total_ = 0;
    results_.clear();
    for (const auto& run : runs) {
        total_ += int(run->items.size());
        for (Item& item : run->items) {
            item.result.server = run->server;
            item.result.ban = item.ban;
            item.result.isAddress = item.isAddress;
            item.result.action = run->action;
        }
    }
    // An empty run keeps the copier busy until that turn too.
    runs.push_back(std::make_unique<Run>());
    runs_ = std::move(runs);
    QTimer::singleShot(0, this, [this] {
        QList<Run*> runs;
        for (const auto& run : runs_)
            runs.append(run.get());
        // The last run, the empty one, is what ends the copier if the others end at once.
        for (Run* run : runs)
            sendNext(*run);
    });
}

void BanCopier::sendNext(Run& run)
{
    while (run.next < run.items.size()) {
        Item& item = run.items[run.next++];
        std::optional<qint64> seconds;
        if (run.action == BanSyncResult::Action::Copy) {
            if (!(item.copy == BanCopy::Perm || item.copy == BanCopy::Timed) || !commandBytes(item.ban)) {
                report(item, BanSyncResult::Outcome::NotCopyable);
                continue;
            }
            if (item.copy == BanCopy::Timed) {
                seconds = secondsLeftAt(*item.secondsLeft, item.readAt, now_());
                if (!seconds) {
                    report(item, BanSyncResult::Outcome::Expired);
                    continue;
                }
            }
            item.result.command = addBanCommand(item.ban, item.isAddress, seconds);
            item.result.secondsSent = seconds;
        } else {
            item.result.command = removeBanCommand(item.ban, item.isAddress);
            if (!commandBytes(item.ban)) {
                report(item, BanSyncResult::Outcome::Failed, BanSyncResult::Failure::NotSent);
                continue;
            }
        }
        if (!commandLengthProblem(item.result.command).isEmpty()) {
            report(item, BanSyncResult::Outcome::Failed, BanSyncResult::Failure::NotSent);
            continue;
        }
        CommandReply* reply = run.send ? run.send(item.result.command) : nullptr;
        if (!reply) {
            // The session takes nothing now; neither will it take the rest.
            report(item, BanSyncResult::Outcome::Failed, BanSyncResult::Failure::NotSent);
            giveUp(run, BanSyncResult::Failure::NotSent);
            reread(run);
            return;
        }
        const qsizetype index = run.next - 1;
        connect(reply, &CommandReply::finished, this, [this, &run, reply, index] {
            Item& sent = run.items[index];
            if (reply->state() == CommandReply::State::Answered) {
                sent.answered = true;
                sendNext(run);
                return;
            }
            const bool wentOut = reply->failure() == CommandReply::Failure::ConnectionLost;
            report(sent, BanSyncResult::Outcome::Failed,
                   wentOut ? BanSyncResult::Failure::ConnectionLost : BanSyncResult::Failure::NotSent);
            giveUp(run, BanSyncResult::Failure::NotSent);
            reread(run);
        });
        return; // the next goes once this one's reply has ended
    }
    reread(run);
}

// What is left of the plan will not be sent.
void BanCopier::giveUp(Run& run, BanSyncResult::Failure failure)
{
    while (run.next < run.items.size())
        report(run.items[run.next++], BanSyncResult::Outcome::Failed, failure);
}

void BanCopier::reread(Run& run)
{
    const bool anyAnswered = std::any_of(run.items.begin(), run.items.end(),
                                         [](const Item& item) { return item.answered; });
    if (!anyAnswered) {
        endRun(run);
        return;
    }
    const auto lost = [this, &run] {
        for (Item& item : run.items) {
            if (item.answered)
                report(item, BanSyncResult::Outcome::Failed, BanSyncResult::Failure::ConnectionLost);
        }
        endRun(run);
    };
    CommandReply* keys = run.send("exec admin.listBannedKeys");
    if (!keys) {
        lost();
        return;
    }
    connect(keys, &CommandReply::finished, this, [this, &run, keys, lost] {
        if (keys->state() != CommandReply::State::Answered) {
            lost();
            return;
        }
        QList<SeenBan> present = keyBansFrom(keys->entries());
        CommandReply* addresses = run.send("exec admin.listBannedAddresses");
        if (!addresses) {
            lost();
            return;
        }
        connect(addresses, &CommandReply::finished, this, [this, &run, addresses, lost, present]() mutable {
            if (addresses->state() != CommandReply::State::Answered) {
                lost();
                return;
            }
            present.append(addressBansFrom(addresses->text()));
            verify(run, present);
        });
    });
}

void BanCopier::verify(Run& run, const QList<SeenBan>& present)
{
    emit banListsRead(ServerBans{run.server, present, now_()});
    QSet<QString> there;
    for (const SeenBan& ban : present)
        there.insert(keyOf(ban.ban, ban.isAddress));
    const bool copying = run.action == BanSyncResult::Action::Copy;
    for (Item& item : run.items) {
        if (!item.answered)
            continue;
        const bool found = there.contains(keyOf(item.ban, item.isAddress));
        if (found == copying)
            report(item, copying ? BanSyncResult::Outcome::Copied : BanSyncResult::Outcome::Removed);
        else
            report(item, BanSyncResult::Outcome::Failed,
                   copying ? BanSyncResult::Failure::NotPresent : BanSyncResult::Failure::StillPresent);
    }
    endRun(run);
}

void BanCopier::report(Item& item, BanSyncResult::Outcome outcome, BanSyncResult::Failure failure)
{
    item.answered = false;
    item.result.outcome = outcome;
    item.result.failure = failure;
    results_.append(item.result);
    emit progressed(item.result, int(results_.size()), total_);
}

void BanCopier::endRun(Run& run)
{
    run.ended = true;
    if (!std::all_of(runs_.begin(), runs_.end(), [](const auto& each) { return each->ended; }))
        return;
    // Idle before the word goes out, so that a listener may start the next run.
    runs_.clear();
    emit finished(std::exchange(results_, {}));
}
