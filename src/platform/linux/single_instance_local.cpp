#include "single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace vozmo {

namespace {

const QByteArray kShowSetup = "show-setup\n";

QString socketName() {
    // QLocalServer puts relative names in the temporary folder; a full path in the user's
    // runtime folder keeps it private to the user.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QString name = QStringLiteral("vozmo-%1.sock").arg(::getuid());
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
}

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::askRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write(kShowSetup);
    if (!socket.waitForBytesWritten(1000)) {
        return false;
    }
    // The running instance answers once it has taken the request.
    return socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
}

bool SingleInstance::listen(std::function<void()> onShowSetup) {
    onShowSetup_ = std::move(onShowSetup);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = socketName();
    if (!server_->listen(name)) {
        // A socket left by a crashed instance: nobody answered on it, so it is stale.
        QLocalServer::removeServer(name);
        if (!server_->listen(name)) {
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (!client->canReadLine()) {
                    return;
                }
                QByteArray line = client->readLine();
                if (line == kShowSetup) {
                    client->write("ok\n");
                    client->flush();
                    if (onShowSetup_) {
                        onShowSetup_();
                    }
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace vozmo
