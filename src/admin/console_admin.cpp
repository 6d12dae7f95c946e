#include "admin/console_admin.h"

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
