#pragma once

// The five values the client remembers between runs, kept in settings.ini in
// section "Settings", key by key, in this order: ipaddress, port, password
// (scrambled), delay, chatname.

#include <QByteArray>
#include <QString>

struct StoredSettings
{
    QByteArray ipAddress;
    QByteArray port;     // as typed, whether or not it is a number
    QByteArray password; // plain; scrambled only in the file
    qint32 delay = 10;   // not clamped here: the spin box does that
    QByteArray chatName;
};

// settings.ini in the executable's directory, whatever the working directory.
QString SettingsPath(const QString& executableDir);

// The stored values; a missing file or key gives the empty text, and the delay
// falls back to `currentDelay` when it is missing or not a whole number.
StoredSettings LoadSettings(const QString& path, qint32 currentDelay);

// Writes the five keys in order. A refused write raises ERavelinError
// "Unable to write to <path>" and the keys after it are not written.
void SaveSettings(const QString& path, const StoredSettings& settings);
