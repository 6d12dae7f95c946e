#pragma once

// Where the passwords of saved servers are kept: the desktop's keyring. The
// calls answer later, as a keyring may first ask its user to unlock it. When
// no keyring runs, nothing is kept: the program never falls back to a weak
// scramble in a file for these.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class PasswordStore
{
public:
    virtual ~PasswordStore() = default;

    // True when a keyring is running that can keep passwords.
    virtual bool isAvailable() const = 0;
    // Calls `done` with the password kept under `key`, or nothing when there is none.
    virtual void read(const QString& key, std::function<void(std::optional<QByteArray>)> done) = 0;
    // Keeps `password` under `key`; `done` gets the keyring's error text, empty on success.
    virtual void write(const QString& key, const QByteArray& password, std::function<void(QString error)> done) = 0;
    virtual void remove(const QString& key) = 0;
};
