#include "watch/fleet_model.h"

#include <QLocale>

QString stateText(ServerWatch::State state)
{
    switch (state) {
    case ServerWatch::State::Stopped: return QStringLiteral("stopped");
    case ServerWatch::State::LoggingIn: return QStringLiteral("logging in");
    case ServerWatch::State::Up: return QStringLiteral("up");
    case ServerWatch::State::Down: return QStringLiteral("down");
    case ServerWatch::State::Refused: return QStringLiteral("refused");
    }
    return {};
}

FleetServerRow fleetRowOf(const ServerWatch& watch, const QStringList& watched)
{
    FleetServerRow row;
    const ServerWatch::Target& target = watch.target();
    row.name = target.name;
    row.address = QString::fromUtf8(target.host) + u':' + QString::number(target.port);
    row.state = watch.state();
    row.trouble = watch.trouble();
    if (watch.state() == ServerWatch::State::Up && watch.lastLook().isValid())
        row.players = int(watch.players().size());
    row.maxPlayers = watch.maxPlayers();
    if (watch.state() == ServerWatch::State::Up)
        row.map = watch.map().value_or(QString());
    row.lastLook = watch.lastLook();
    row.watched = watched;
    return row;
}

namespace {
QString playersText(const FleetServerRow& row)
{
    if (!row.players)
        return QStringLiteral("-");
    return row.maxPlayers ? QStringLiteral("%1/%2").arg(*row.players).arg(*row.maxPlayers)
                          : QString::number(*row.players);
}

// Down or refused, the alert is why; up, the watched players present.
QString alertsText(const FleetServerRow& row)
{
    if (row.state == ServerWatch::State::Down || row.state == ServerWatch::State::Refused)
        return row.trouble;
    if (row.watched.isEmpty())
        return {};
    return QStringLiteral("Watched: ") + row.watched.join(QStringLiteral(", "));
}
} // namespace

int FleetServerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int FleetServerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetServerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const FleetServerRow& row = rows_[index.row()];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case Name: return row.name;
        case Address: return row.address;
        case State: return stateText(row.state);
        case Players: return playersText(row);
        case Map: return row.map;
        case LastPoll:
            return row.lastLook.isValid()
                ? QLocale::system().toString(row.lastLook.toLocalTime().time(), QLocale::ShortFormat)
                : QStringLiteral("never");
        case Alerts: return alertsText(row);
        }
    }
    if (role == kSortRole) {
        switch (index.column()) {
        case Players: return row.players.value_or(-1);
        case LastPoll: return row.lastLook;
        case State: return int(row.state);
        default: return data(index, Qt::DisplayRole).toString().toLower();
        }
    }
    return {};
}

QVariant FleetServerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const captions[] = {"Server", "Address", "State", "Players", "Map", "Last poll", "Alerts"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(captions[section]) : QVariant();
}

void FleetServerModel::setRows(QList<FleetServerRow> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void FleetServerModel::setRow(int row, const FleetServerRow& value)
{
    if (row < 0 || row >= rows_.size() || rows_[row] == value)
        return;
    rows_[row] = value;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

QString timeOnServer(const QDateTime& since, const QDateTime& now)
{
    if (!since.isValid())
        return {};
    const qint64 seconds = std::max<qint64>(0, since.secsTo(now));
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

int FleetPlayerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int FleetPlayerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetPlayerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const FleetPlayerRow& row = rows_[index.row()];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case Name: return row.player.name;
        case Hash: return row.player.hash;
        case Address: return row.player.address;
        case TimeOnServer: return timeOnServer(row.since, now_);
        case Marks: {
            QStringList marks;
            if (!row.watched.isEmpty())
                marks.append(QStringLiteral("Watched: ") + row.watched.join(QStringLiteral("; ")));
            if (row.noted)
                marks.append(QStringLiteral("Noted"));
            return marks.join(QStringLiteral("; "));
        }
        }
    }
    if (role == kSortRole) {
        if (index.column() == TimeOnServer)
            return row.since.isValid() ? row.since.secsTo(now_) : qint64(-1);
        return data(index, Qt::DisplayRole).toString().toLower();
    }
    return {};
}

QVariant FleetPlayerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const captions[] = {"Name", "Key hash", "Address", "Time on server", "Marks"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(captions[section]) : QVariant();
}

void FleetPlayerModel::setPlayers(const QString& server, QList<FleetPlayerRow> rows, const QDateTime& now)
{
    const bool samePlayers = server == server_ && rows.size() == rows_.size()
        && std::equal(rows.begin(), rows.end(), rows_.begin(), [](const FleetPlayerRow& a, const FleetPlayerRow& b) {
                                 return a.player.key() == b.player.key();
                             });
    if (!samePlayers) {
        beginResetModel();
        server_ = server;
        rows_ = std::move(rows);
        now_ = now;
        endResetModel();
        return;
    }
    rows_ = std::move(rows);
    now_ = now;
    if (!rows_.isEmpty())
        emit dataChanged(index(0, 0), index(int(rows_.size()) - 1, ColumnCount - 1));
}
