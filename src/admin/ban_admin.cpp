#include "admin/ban_admin.h"

#include "core/text_cut.h"

namespace ban_admin {

std::optional<QByteArray> banKey(const QByteArray& line)
{
    qsizetype word = text::find(line, "Perm");
    if (word < 0)
        word = text::find(line, "Round");
    if (word < 0)
        return std::nullopt;
    // Past the "Key: " prefix, and short of the blank in front of the word.
    return text::slice(line, 5, word - 1).toByteArray();
}

AdminAction addKey(const QByteArray& entry)
{
    return {"exec admin.addKeyToBanList " + entry, entry + " added to ban list..."};
}

AdminAction removeKey(const QByteArray& key)
{
    return {"exec admin.removeKeyFromBanList " + key, key + " removed from ban list..."};
}

AdminAction clearAll()
{
    return {"exec admin.clearbanlist", "Ban list cleared..."};
}

} // namespace ban_admin
