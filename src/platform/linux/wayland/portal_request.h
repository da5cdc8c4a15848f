#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <string>

namespace vozmo {

inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// The answers a portal Request gives in its Response signal.
enum PortalResponse : uint { portalSuccess = 0, portalCancelled = 1, portalFailed = 2 };

// Why `interface` of the desktop portal cannot be used on `bus` ("" when it can). Reading its
// version property also starts a portal that the bus activates on demand.
// `version`, when given, receives the version offered.
std::string portalProblem(const QDBusConnection& bus, const QString& interface, uint minVersion,
                          uint* version = nullptr);

// The session handle a CreateSession Response carries; portals send it as a string, a few as
// an object path. Empty when absent.
QString portalSessionHandle(const QVariantMap& results);

// Portal calls that answer through a Request object: the method returns the request's path at
// once, the result comes later in its Response signal (after a dialog, possibly much later).
// The Response is subscribed before the call, at the path that handle_token fixes, so a quick
// answer is never missed. Main thread only.
class PortalRequests : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    using Answer = std::function<void(uint response, const QVariantMap& results)>;

    explicit PortalRequests(QDBusConnection bus);
    ~PortalRequests() override;

    // Calls interface.method(args..., options) on the portal with a fresh handle_token added
    // to options. `answer` receives the Response, or portalFailed with results["error"] when
    // the call itself fails. It is not called once this object is gone.
    void call(const QString& interface, const QString& method, const QVariantList& args,
              QVariantMap options, Answer answer);

    // A token for handle_token or session_handle_token, unique in this process.
    static QString newToken();

    QDBusConnection& bus() { return bus_; }

private slots:
    void onResponse(uint response, const QVariantMap& results);
    void onCallReply(const QDBusMessage& reply);
    void onCallError(const QDBusError& error, const QDBusMessage& call);

private:
    QString requestPath(const QString& token) const;
    void finish(const QString& path, uint response, const QVariantMap& results);

    QDBusConnection bus_;
    std::map<QString, Answer> pending_; // by request path
};

} // namespace vozmo
