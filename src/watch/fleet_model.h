#pragma once

// The fleet as tables: a row for each server, and a row for each player of
// the server chosen. The models hold plain rows, filled from the watches, so
// that a refresh of a hundred servers changes cells, not whole tables: a
// view keeps its selection, its scroll position and its sort.

#include "watch/poll_diff.h"
#include "watch/server_watch.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The role a proxy sorts by: numbers as numbers, times as times.
inline constexpr int kSortRole = Qt::UserRole + 1;

struct FleetServerRow
{
    QString name;
    QString address; // host:port
    ServerWatch::State state = ServerWatch::State::Stopped;
    QString trouble;            // why it is down or refused
    std::optional<int> players; // none before the first look
    std::optional<int> maxPlayers;
    QString map;
    QDateTime lastLook;  // in UTC
    QStringList watched; // "name (note)" of each watched player present

    friend bool operator==(const FleetServerRow&, const FleetServerRow&) = default;
};

// What a watch knows of its server, as a row.
FleetServerRow fleetRowOf(const ServerWatch& watch, const QStringList& watched);
// The words for a state: "up", "down", "logging in", "refused", "stopped".
QString stateText(ServerWatch::State state);

class FleetServerModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Address, State, Players, Map, LastPoll, Alerts, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setRows(QList<FleetServerRow> rows);
    // Changes one row; only the cells that differ are told to the views.
    void setRow(int row, const FleetServerRow& value);
    const FleetServerRow& row(int row) const { return rows_[row]; }

private:
    QList<FleetServerRow> rows_;
};

struct FleetPlayerRow
{
    SeenPlayer player;
    QDateTime since;     // when the watch first saw them on the server, in UTC
    QStringList watched; // the notes of the watchlist entries they match
    bool noted = false;  // the store has a note on them
};

// "42 s", "12 min", "3 h 05 min": how long from `since` to `now`.
QString timeOnServer(const QDateTime& since, const QDateTime& now);

class FleetPlayerModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Hash, Address, TimeOnServer, Marks, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The players of one server at `now`. The same players as before (a
    // refresh) change cells; others reset the table.
    void setPlayers(const QString& server, QList<FleetPlayerRow> rows, const QDateTime& now);
    const QString& server() const { return server_; }
    const FleetPlayerRow& row(int row) const { return rows_[row]; }

private:
    QString server_;
    QList<FleetPlayerRow> rows_;
    QDateTime now_;
};
