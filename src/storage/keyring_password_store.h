#pragma once

// The passwords of saved servers in the desktop's keyring (the Secret Service
// or KWallet), through QtKeychain. Without a keyring nothing is kept.

#include "storage/password_store.h"

#include <QObject>

class KeyringPasswordStore : public QObject, public PasswordStore
{
public:
    explicit KeyringPasswordStore(QObject* parent = nullptr);

    bool isAvailable() const override;
    void read(const QString& key, std::function<void(std::optional<QByteArray>)> done) override;
    void write(const QString& key, const QByteArray& password, std::function<void(QString error)> done) override;
    void remove(const QString& key) override;

private:
    mutable std::optional<bool> available_;
};
