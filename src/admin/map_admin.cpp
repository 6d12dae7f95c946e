#include "admin/map_admin.h"

#include "core/text_cut.h"

namespace map_admin {

namespace {
constexpr char TogglePauseCommand[] = "exec gameLogic.togglepause";
} // namespace

QByteArray MapNumberOf(const QByteArray& line)
{
    return text::Copy(line, 1, text::Pos(':', line) - 1);
}

AdminAction Append(const QByteArray& mapName)
{
    return {"exec mapList.append " + mapName, mapName + " has been added to the map rotation..."};
}

AdminAction Remove(const QByteArray& mapNumber)
{
    return {"exec mapList.remove " + mapNumber, "Map number " + mapNumber + " has been removed..."};
}

AdminAction Save()
{
    return {"exec mapList.save", "Maplist saved to server..."};
}

AdminAction RunNextMap()
{
    return {"exec admin.runnextlevel", "Running next level...(May take a while to change)"};
}

AdminAction RestartMap()
{
    return {"exec admin.restartMap", "Map restarting..."};
}

PauseToggle TogglePause(const QByteArray& caption)
{
    if (caption == PauseCaption)
        return {TogglePauseCommand, "UnPause", "Game paused..."};
    return {TogglePauseCommand, PauseCaption, "Game unpaused..."};
}

} // namespace map_admin
