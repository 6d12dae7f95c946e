#include "admin/console_admin.h"

#include "core/text_cut.h"

#include <algorithm>
#include <array>
#include <utility>

namespace console_admin {

std::optional<AdminAction> recordDemo(const QByteArray& demoName)
{
    if (demoName.isEmpty())
        return std::nullopt;
    // The server refuses a name already taken without telling us, so the log says so up front.
    return AdminAction{"exec demo.recorddemo " + demoName,
                       "Recording.. (unless a demo already exists with that name :()"};
}

AdminAction stopRecording()
{
    return {"exec demo.stoprecording", "Stopping recording..."};
}

} // namespace console_admin

std::optional<QByteArray> console_admin::typedAction(const QByteArray& command)
{
    static constexpr std::array<std::pair<const char*, const char*>, 19> kActions = {{
        {"admin.kickPlayer", "Kick"},
        {"admin.banPlayer", "Ban"},
        {"admin.banPlayerKey", "Ban"},
        {"admin.addKeyToBanList", "Ban"},
        {"admin.addAddressToBanList", "Ban"},
        {"admin.removeKeyFromBanList", "Unban"},
        {"admin.removeAddressFromBanList", "Unban"},
        {"admin.clearBanList", "Clear"},
        {"mapList.clear", "Clear"},
        {"admin.runNextLevel", "Map change"},
        {"admin.nextLevel", "Map change"},
        {"admin.restartMap", "Map change"},
        {"mapList.append", "Map change"},
        {"mapList.insert", "Map change"},
        {"mapList.remove", "Map change"},
        {"mapList.load", "Map change"},
        {"game.sayAll", "Chat"},
        {"game.sayTeam", "Chat"},
        {"game.sayToPlayer", "Chat"},
    }};
    const auto words = QByteArrayView(command).trimmed();
    const auto wordAt = [&](qsizetype from) {
        const QByteArrayView rest = words.sliced(from);
        const qsizetype end = std::find_if(rest.begin(), rest.end(), [](char c) { return c == ' ' || c == '\t'; })
            - rest.begin();
        return rest.first(end);
    };
    QByteArrayView name = wordAt(0);
    if (text::sameText(name, "exec") && name.size() < words.size())
        name = wordAt(QByteArrayView(words.sliced(name.size())).trimmed().data() - words.data());
    for (const auto& [method, kind] : kActions) {
        if (text::sameText(name, method))
            return QByteArray(kind) + " typed in the console: " + command;
    }
    return std::nullopt;
}
