#include "admin/map_admin.h"

#include "core/text_cut.h"

namespace map_admin {

namespace {
constexpr char TogglePauseCommand[] = "exec gameLogic.togglepause";
} // namespace

QByteArray mapNumber(const QByteArray& line)
{
    return text::before(line, ':').toByteArray();
}

AdminAction appendMap(const QByteArray& mapName)
{
    return {"exec mapList.append " + mapName, mapName + " has been added to the map rotation..."};
}

AdminAction removeMap(const QByteArray& mapNumber)
{
    return {"exec mapList.remove " + mapNumber, "Map number " + mapNumber + " has been removed..."};
}

AdminAction saveRotation()
{
    return {"exec mapList.save", "Maplist saved to server..."};
}

AdminAction runNextMap()
{
    return {"exec admin.runnextlevel", "Running next level...(May take a while to change)"};
}

AdminAction restartMap()
{
    return {"exec admin.restartMap", "Map restarting..."};
}

PauseToggle togglePause(const QByteArray& caption)
{
    if (caption == PauseCaption)
        return {TogglePauseCommand, "UnPause", "Game paused..."};
    return {TogglePauseCommand, PauseCaption, "Game unpaused..."};
}

} // namespace map_admin
