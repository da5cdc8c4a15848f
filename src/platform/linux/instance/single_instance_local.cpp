#include "single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <thread>

namespace vozmo {

namespace {

const QByteArray kShowSetup = "show-setup\n";
const QByteArray kKeyPrefix = "key ";
const QByteArray kKeyActions[] = {"press", "release", "toggle", "cancel"};

// The user's runtime folder (private to the user), or the temporary folder without one.
QString runtimeFolder() {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

QString socketName() {
    // QLocalServer puts relative names in the temporary folder; a full path in the user's
    // runtime folder keeps it private to the user.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QString name = QStringLiteral("vozmo-%1.sock").arg(::getuid());
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
}

QString lockName() {
    return QDir(runtimeFolder()).filePath(QStringLiteral("vozmo-%1.lock").arg(::getuid()));
}

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    // The socket goes before the lock: closing the server removes its file, which by then could
    // be a new instance's.
    if (server_ != nullptr) {
        server_->close();
    }
    if (lockFile_ >= 0) {
        ::close(lockFile_);
    }
}

bool SingleInstance::claim() {
    if (lockFile_ < 0) {
        // Close-on-exec: a server started by this instance must not hold the lock after it.
        lockFile_ = ::open(lockName().toLocal8Bit().constData(),
                           O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lockFile_ < 0) {
            return true;
        }
    }
    int status;
    do {
        status = ::flock(lockFile_, LOCK_EX | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    locked_ = status == 0;
    return locked_ || errno != EWOULDBLOCK;
}

bool SingleInstance::askRunningInstance(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto left = [&] {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(ms.count(), 0));
    };
    // The holder of the lock listens right after taking it, but answers only once its event
    // loop runs, which on a slow machine is seconds later.
    while (left() > 0) {
        QLocalSocket socket;
        socket.connectToServer(socketName());
        if (socket.waitForConnected(std::min(left(), 1000))) {
            socket.write(kShowSetup);
            if (socket.waitForBytesWritten(std::min(left(), 1000)) &&
                socket.waitForReadyRead(left())) {
                return socket.readAll().startsWith("ok");
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left(), 100)));
    }
    return false;
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

void SingleInstance::onShowSetup(std::function<void()> handler) {
    onShowSetup_ = std::move(handler);
}

bool SingleInstance::listen(std::string* error) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = socketName();
    if (!server_->listen(name) && locked_ &&
        server_->serverError() == QAbstractSocket::AddressInUseError) {
        // Whoever made it ended without removing it: a live instance would hold the lock.
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    if (!server_->isListening()) {
        if (error != nullptr) {
            *error = (name + ": " + server_->errorString()).toStdString();
        }
        return false;
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
