#pragma once

// Lists to take away: a player or ban list as CSV, with the fields the
// cutting rules give (see list_fields.h), the bytes of every field as the
// server sent them. A text that begins with '=', '+', '-' or '@' gets a "'"
// in front, so that a spreadsheet shows a player's name rather than running
// it as a formula. Each text goes in double quotes when it holds a comma, a
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
