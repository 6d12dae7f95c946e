#include "app/desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QUrl>
#include <QVariantMap>

bool SystemDesktop::openFolder(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SystemDesktop::notify(const QString& summary, const QString& body)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Server text may reach the body, which some services read as markup: it
    // goes as plain text, with the markup characters escaped.
    call << QStringLiteral("Ravelin") << uint(0) << QStringLiteral("io.github.bastionrow.ravelin") << summary
         << body.toHtmlEscaped() << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("io.github.bastionrow.ravelin")}} << int(-1);
    // Sent without waiting for the answer: a slow service must not hold up the window.
    bus.asyncCall(call);
}
