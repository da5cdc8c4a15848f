#include "portal_request.h"

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QRandomGenerator>

namespace vozmo {

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// Calls that only hand out a request path answer at once; a portal that takes longer is stuck.
constexpr int kCallLimitMs = 5000;

} // namespace

std::string portalProblem(const QDBusConnection& bus, const QString& interface, uint minVersion,
                          uint* version) {
    if (!bus.isConnected()) {
        return "no hay bus de sesión D-Bus";
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusMessage reply = QDBusConnection(bus).call(get, QDBus::Block, kCallLimitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        const QString name = reply.errorName();
        if (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            return "no hay portal del escritorio (org.freedesktop.portal.Desktop) en el bus";
        }
        return "el portal del escritorio no ofrece " + interface.toStdString() + " (" +
               reply.errorMessage().toStdString() + ")";
    }
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    bool ok = false;
    const uint offered = value.toUInt(&ok);
    if (version != nullptr) {
        *version = ok ? offered : 0;
    }
    if (!ok || offered < minVersion) {
        return "el portal del escritorio ofrece " + interface.toStdString() + " en la versión " +
               std::to_string(ok ? offered : 0) + ", hace falta la " + std::to_string(minVersion);
    }
    return "";
}

QString portalSessionHandle(const QVariantMap& results) {
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return handle.value<QDBusObjectPath>().path();
    }
    return handle.metaType() == QMetaType::fromType<QString>() ? handle.toString() : QString();
}

PortalRequests::PortalRequests(QDBusConnection bus) : bus_(std::move(bus)) {}

PortalRequests::~PortalRequests() {
    for (const auto& [path, answer] : pending_) {
        bus_.disconnect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap)));
        // Nobody waits for the answer any more: take a dialog the portal may show away.
        bus_.send(QDBusMessage::createMethodCall(kPortalService, path, kRequestInterface,
                                                 QStringLiteral("Close")));
    }
}

QString PortalRequests::newToken() {
    return QStringLiteral("vozmo_%1")
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

QString PortalRequests::requestPath(const QString& token) const {
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void PortalRequests::call(const QString& interface, const QString& method, const QVariantList& args,
                          QVariantMap options, Answer answer) {
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    const QString path = requestPath(token);
    pending_[path] = std::move(answer);
    bus_.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));

    QDBusMessage message =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    QVariantList arguments = args;
    arguments.append(options);
    message.setArguments(arguments);
    if (!bus_.callWithCallback(message, this, SLOT(onCallReply(QDBusMessage)),
                               SLOT(onCallError(QDBusError, QDBusMessage)), kCallLimitMs)) {
        finish(path, portalFailed,
               {{QStringLiteral("error"), QStringLiteral("no se pudo enviar la llamada")}});
    }
}

void PortalRequests::onCallReply(const QDBusMessage&) {
    // The request path was subscribed before the call: every portal with these interfaces
    // honours handle_token, so the Response comes there.
}

void PortalRequests::onCallError(const QDBusError& error, const QDBusMessage& call) {
    const QVariantMap options = call.arguments().value(call.arguments().size() - 1).toMap();
    const QString token = options.value(QStringLiteral("handle_token")).toString();
    finish(requestPath(token), portalFailed, {{QStringLiteral("error"), error.message()}});
}

void PortalRequests::onResponse(uint response, const QVariantMap& results) {
    finish(message().path(), response, results);
}

void PortalRequests::finish(const QString& path, uint response, const QVariantMap& results) {
    auto it = pending_.find(path);
    if (it == pending_.end()) {
        return;
    }
    Answer answer = std::move(it->second);
    pending_.erase(it);
    bus_.disconnect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    answer(response, results);
}

} // namespace vozmo
