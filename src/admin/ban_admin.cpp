#include "admin/ban_admin.h"

#include "core/text_cut.h"

namespace ban_admin {

std::optional<QByteArray> BanKeyOf(const QByteArray& line)
{
    qsizetype word = text::Pos("Perm", line);
    if (word == 0)
        word = text::Pos("Round", line);
    if (word == 0)
        return std::nullopt;
    // Past the "Key: " prefix, and short of the blank in front of the word.
    return text::Copy(line, 6, word - 7);
}

AdminAction AddKey(const QByteArray& entry)
{
    return {"exec admin.addKeyToBanList " + entry, entry + " added to ban list..."};
}

AdminAction RemoveKey(const QByteArray& key)
{
    return {"exec admin.removeKeyFromBanList " + key, key + " removed from ban list..."};
}

AdminAction ClearAll()
{
    return {"exec admin.clearbanlist", "Ban list cleared..."};
}

} // namespace ban_admin
