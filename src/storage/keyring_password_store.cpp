#include "storage/keyring_password_store.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Ravelin");

// The bus names of the keyrings QtKeychain talks to.
const QStringList kKeyringServices = {QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd6"),
                                      QStringLiteral("org.kde.kwalletd5")};

// A bus that does not answer must not hold up the window for long.
constexpr int kBusTimeoutMs = 1000;

QStringList busNames(const QDBusConnection& bus, const char* method)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QLatin1String(method));
    const QDBusReply<QStringList> reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
    return reply.isValid() ? reply.value() : QStringList();
}

} // namespace

KeyringPasswordStore::KeyringPasswordStore(QObject* parent)
    : QObject(parent)
{ }

bool KeyringPasswordStore::isAvailable() const
{
    if (!available_) {
        // A keyring counts when it runs, or when the bus would start it on demand.
        const QDBusConnection bus = QDBusConnection::sessionBus();
        bool found = false;
        if (bus.isConnected()) {
            const QStringList names = busNames(bus, "ListNames") + busNames(bus, "ListActivatableNames");
            for (const QString& service : kKeyringServices)
                found = found || names.contains(service);
        }
        available_ = found;
    }
    return *available_;
}

void KeyringPasswordStore::read(const QString& key, std::function<void(std::optional<QByteArray>)> done)
{
    auto* job = new QKeychain::ReadPasswordJob(kService, this);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [job, done = std::move(done)] {
        if (job->error() == QKeychain::NoError)
            done(job->binaryData());
        else
            done(std::nullopt);
    });
    job->start();
}

void KeyringPasswordStore::write(const QString& key, const QByteArray& password,
                                 std::function<void(QString error)> done)
{
    auto* job = new QKeychain::WritePasswordJob(kService, this);
    job->setKey(key);
    // Bytes, not text: a password is 8-bit like everything the server takes.
    job->setBinaryData(password);
    connect(job, &QKeychain::Job::finished, this, [job, done = std::move(done)] {
        done(job->error() == QKeychain::NoError ? QString() : job->errorString());
    });
    job->start();
}

void KeyringPasswordStore::remove(const QString& key)
{
    auto* job = new QKeychain::DeletePasswordJob(kService, this);
    job->setKey(key);
    job->start();
}
