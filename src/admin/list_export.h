#pragma once

// Lists to take away: a player or ban list as CSV, with the fields the
// cutting rules give (see list_fields.h), the bytes of every field as the
// server sent them. Each text goes in double quotes when it holds a comma, a
// quote, a line break or blanks at its ends, its quotes doubled.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace list_export {

// One CSV field.
QByteArray csvField(QByteArrayView text);

// A header line, then one line per entry.
QList<QByteArray> playersCsv(const QList<QByteArray>& entries);
QList<QByteArray> bansCsv(const QList<QByteArray>& entries);

} // namespace list_export
