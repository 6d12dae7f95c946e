#pragma once

// The values the client remembers between runs, kept in settings.ini in
// section "Settings" under the keys ipaddress, port, password (scrambled),
// delay and chatname, and autoreconnect once it has been turned on; and in
// section "Fleet" whether the Fleet window was open and its size, once it
// has been opened; and in section "Store" the player store's database, once
// one has been chosen. The file is read once and written in one save.

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

    // A window's place between runs: open at exit or not, and its size.
    struct WindowPlace
    {
        bool open = false;
        int width = 0;
        int height = 0;
        friend bool operator==(const WindowPlace&, const WindowPlace&) = default;
    };
    // The Fleet window; nothing while it has never been opened.
    std::optional<WindowPlace> fleetWindow = std::nullopt;
    // The player store's database URL or file, as UTF-8; empty for the
    // default file. Nothing when the file holds none: nothing is then written.
    std::optional<QByteArray> database = std::nullopt;
};

// The stored values; a missing file or key gives the empty text, and the delay
// falls back to `currentDelay` when it is missing or not a whole number.
StoredSettings loadSettings(const QString& path, qint32 currentDelay);

// Writes the five keys, in order where they are new, and autoreconnect, the
// Fleet window's place and the database when they have a value, every other byte of the file kept, and leaves the file
// readable by its owner alone. A refused write raises RavelinError "Unable to write to <path>" and leaves the file as
// it was; one that is a link to another user's file, or a link of another user, raises FileRefused and is not written.
void saveSettings(const QString& path, const StoredSettings& settings);
