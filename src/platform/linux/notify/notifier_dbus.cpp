#include "notifier.h"

#include "log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace vozmo {

namespace {

class DBusNotifier : public Notifier {
public:
    void notify(const Notification& notification) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            if (!reportedNoBus_) {
                reportedNoBus_ = true;
                log("Sin bus de sesión D-Bus: no se muestran notificaciones");
            }
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vozmo"));
        call << QStringLiteral("Vozmo") << 0u << QStringLiteral("audio-input-microphone")
             << QString::fromStdString(notification.summary)
             << QString::fromStdString(notification.body) << QStringList() << hints
             << -1; // the server's own display time
        // Sent without waiting for the answer: a missing or frozen notification service must
        // not hold up the main thread.
        bus.send(call);
    }

private:
    bool reportedNoBus_ = false;
};

} // namespace

std::unique_ptr<Notifier> makeDesktopNotifier() {
    return std::make_unique<DBusNotifier>();
}

} // namespace vozmo
