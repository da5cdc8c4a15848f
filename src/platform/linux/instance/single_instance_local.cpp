#include "single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace vozmo {

namespace {

const QByteArray kShowSetup = "show-setup\n";
const QByteArray kKeyPrefix = "key ";
const QByteArray kKeyActions[] = {"press", "release", "toggle", "cancel"};

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

bool SingleInstance::sendKey(const std::string& action) {
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write(kKeyPrefix + QByteArray::fromStdString(action) + "\n");
    if (!socket.waitForBytesWritten(1000)) {
        return false;
    }
    return socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
}

void SingleInstance::onKey(std::function<void(const std::string& action)> handler) {
    onKey_ = std::move(handler);
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
                } else if (line.startsWith(kKeyPrefix) && line.endsWith('\n')) {
                    // Only the known actions: anything the user's account may write here is
                    // otherwise ignored, and the sender hears no "ok".
                    const QByteArray action = line.mid(kKeyPrefix.size()).chopped(1);
                    const bool known = std::find(std::begin(kKeyActions), std::end(kKeyActions),
                                                 action) != std::end(kKeyActions);
                    if (known && onKey_) {
                        // Answer first: the sender exits at once and the key's effect (a
                        // recording starting) must not wait on it.
                        client->write("ok\n");
                        client->flush();
                        onKey_(action.toStdString());
                    }
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace vozmo
