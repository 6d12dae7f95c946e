#include "storage/settings.h"

#include "core/errors.h"
#include "storage/file_locations.h"
#include "storage/ini_file.h"
#include "storage/password_scramble.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView kSection = "Settings";
constexpr QByteArrayView kFleetSection = "Fleet";
constexpr QByteArrayView kStoreSection = "Store";

} // namespace

StoredSettings loadSettings(const QString& path, qint32 currentDelay)
{
    const IniFile file(path);
    StoredSettings settings;
    settings.ipAddress = file.value(kSection, "ipaddress", QByteArray());
    settings.port = file.value(kSection, "port", QByteArray());
    settings.password = unscramble(file.value(kSection, "password", QByteArray()));
    settings.delay = file.integer(kSection, "delay", currentDelay);
    settings.chatName = file.value(kSection, "chatname", QByteArray());
    if (const qint32 reconnect = file.integer(kSection, "autoreconnect", -1); reconnect >= 0)
        settings.reconnect = reconnect != 0;
    if (const qint32 open = file.integer(kFleetSection, "open", -1); open >= 0) {
        settings.fleetWindow = StoredSettings::WindowPlace{open != 0, file.integer(kFleetSection, "width", 0),
                                                           file.integer(kFleetSection, "height", 0)};
    }
    // An empty value is the default file, as a missing one is.
    if (QByteArray database = file.value(kStoreSection, "database", QByteArray()); !database.isEmpty())
        settings.database = std::move(database);
    return settings;
}

void saveSettings(const QString& path, const StoredSettings& settings)
{
    // The per-user folder holds a password that can be recovered: its user's alone.
    makePrivateFolderFor(path);
    IniFile file(path);
    file.setValue(kSection, "ipaddress", settings.ipAddress);
    file.setValue(kSection, "port", settings.port);
    file.setValue(kSection, "password", scramble(settings.password));
    file.setValue(kSection, "delay", QByteArray::number(settings.delay));
    file.setValue(kSection, "chatname", settings.chatName);
    if (settings.reconnect)
        file.setValue(kSection, "autoreconnect", *settings.reconnect ? "1" : "0");
    if (const auto& fleet = settings.fleetWindow) {
        file.setValue(kFleetSection, "open", fleet->open ? "1" : "0");
        file.setValue(kFleetSection, "width", QByteArray::number(fleet->width));
        file.setValue(kFleetSection, "height", QByteArray::number(fleet->height));
    }
    if (settings.database)
        file.setValue(kStoreSection, "database", *settings.database);
    if (!file.save()) {
        // The message is 8-bit text; Latin-1 keeps the path's accented letters.
        throw RavelinError("Unable to write to " + file.path().toLatin1());
    }
    // It holds the password, only scrambled: its owner's alone, whatever mode it
    // had. Another user's file (a shared install's) keeps the mode its owner chose.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid())
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
}
