#pragma once

// The values the client remembers between runs, kept in settings.ini in
// section "Settings" under the keys ipaddress, port, password (scrambled),
// delay and chatname, and autoreconnect once it has been turned on. The file
// is read once and written in one save.

#include <QByteArray>
#include <QString>

#include <optional>

struct StoredSettings
{
    QByteArray ipAddress;
    QByteArray port;     // as typed, whether or not it is a number
    QByteArray password; // plain; scrambled only in the file
    qint32 delay = 10;   // not clamped here: the spin box does that
    QByteArray chatName;
    // Reconnect Automatically; nothing while the file has never held it.
    std::optional<bool> reconnect = std::nullopt;
};

// The stored values; a missing file or key gives the empty text, and the delay
// falls back to `currentDelay` when it is missing or not a whole number.
StoredSettings loadSettings(const QString& path, qint32 currentDelay);

// Writes the five keys, in order where they are new, and autoreconnect when it
// has a value, every other byte of the file kept, and leaves the file readable
// by its owner alone. A refused write raises RavelinError "Unable to write to
// <path>" and leaves the file as it was; one that is a link to another
// user's file, or a link of another user, raises FileRefused and is not written.
void saveSettings(const QString& path, const StoredSettings& settings);
