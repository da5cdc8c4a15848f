// A stand-in for the desktop's notification service: owns org.freedesktop.Notifications on the
// session bus and appends every notification it is sent to a file, one JSON object a line.
//   notification_standin <record-file>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <nlohmann/json.hpp>

#include <cstdio>

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationService(QString recordFile) : recordFile_(std::move(recordFile)) {}

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        nlohmann::json line = {
            {"app", appName.toStdString()},
            {"replaces", replacesId},
            {"icon", appIcon.toStdString()},
            {"summary", summary.toStdString()},
            {"body", body.toStdString()},
            {"actions", static_cast<int>(actions.size())},
            {"desktop-entry",
             hints.value(QStringLiteral("desktop-entry")).toString().toStdString()},
            {"timeout", expireTimeout},
        };
        QFile file(recordFile_);
        if (file.open(QIODevice::Append)) {
            file.write(QByteArray::fromStdString(line.dump() + "\n"));
        }
        return ++lastId_;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("vozmo-tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("notification-standin");
    }
    void CloseNotification(uint) {}

private:
    QString recordFile_;
    uint lastId_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("uso: notification_standin <fichero>\n", stderr);
        return 2;
    }
    NotificationService service(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                  &service, QDBusConnection::ExportAllSlots)) {
        std::fputs("notification_standin: no session bus\n", stderr);
        return 1;
    }
    // Registered after the object, so whoever sees the name can call it at once.
    if (!bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fputs("notification_standin: the name is taken\n", stderr);
        return 1;
    }
    return app.exec();
}

#include "notification_standin.moc"
