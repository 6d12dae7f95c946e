#pragma once

// The fields of a list entry, for ravelin-cli's JSON and the window's CSV
// export. The part that names an entry (the player id, the banned key, the map
// number) is cut by the same rules as the window's tabs; the rest is cut
// around the words the server puts between the fields. A field that a line does not hold is empty
// (null in JSON); the line itself is always given as well.

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace list_fields {

using Number = std::optional<qint64>;
using Text = std::optional<QByteArray>;

// A player entry is the listing's two lines joined:
// "Id:  3 - Name is remote ip: 10.0.0.7:1234 ->         CD-key hash: 4f..."
struct PlayerFields
{
    Number id;
    Text name;
    Text address;
    Number port;
    Text keyHash;
};
PlayerFields playerFields(const QByteArray& entry);

// "Key: 4f... Perm", "Key: 4f... Round", "Key: 4f... Time Left: 1800".
struct BanFields
{
    Text key; // a key hash, or an address for a ban by address
    Text period;
};
BanFields banFields(const QByteArray& entry);

// "3: \"gulf_of_oman\" gpm_cq 64".
struct MapFields
{
    Number index;
    Text name;
    Text mode;
    Number size;
};
MapFields mapFields(const QByteArray& entry);

// A whole number of at most nine digits, blanks around it allowed.
Number wholeNumber(QByteArrayView text);

} // namespace list_fields
