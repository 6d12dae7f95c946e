#include "storage/settings.h"

#include "core/errors.h"
#include "storage/ini_file.h"
#include "storage/password_scramble.h"

namespace {

constexpr QByteArrayView kSection = "Settings";

void WriteKey(IniFile& file, QByteArrayView key, const QByteArray& value)
{
    if (!file.WriteString(kSection, key, value)) {
        // The message is 8-bit text; Latin-1 keeps the path's accented letters.
        throw ERavelinError("Unable to write to " + file.Path().toLatin1());
    }
}

} // namespace

QString SettingsPath(const QString& executableDir)
{
    const QString separator = executableDir.endsWith(u'/') ? QString() : QStringLiteral("/");
    return executableDir + separator + QStringLiteral("settings.ini");
}

StoredSettings LoadSettings(const QString& path, qint32 currentDelay)
{
    const IniFile file(path);
    StoredSettings settings;
    settings.ipAddress = file.ReadString(kSection, "ipaddress", QByteArray());
    settings.port = file.ReadString(kSection, "port", QByteArray());
    settings.password = Decrypt(file.ReadString(kSection, "password", QByteArray()));
    settings.delay = file.ReadInteger(kSection, "delay", currentDelay);
    settings.chatName = file.ReadString(kSection, "chatname", QByteArray());
    return settings;
}

void SaveSettings(const QString& path, const StoredSettings& settings)
{
    IniFile file(path);
    WriteKey(file, "ipaddress", settings.ipAddress);
    WriteKey(file, "port", settings.port);
    WriteKey(file, "password", Encrypt(settings.password));
    WriteKey(file, "delay", QByteArray::number(settings.delay));
    WriteKey(file, "chatname", settings.chatName);
}
