#include "portal_shortcuts.h"

#include "log.h"
#include "prefs.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QList>

namespace vozmo {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// One element of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const Shortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Shortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

} // namespace

} // namespace vozmo

Q_DECLARE_METATYPE(vozmo::Shortcut)

namespace vozmo {

std::string preferredTrigger(const std::string& hotkey) {
    // Key names are xkb keysym names, as the shortcuts syntax asks; the portal shows them as a
    // suggestion and the user may pick another key in its dialog.
    return hotkey == Prefs::kHotkeyRightAlt ? "Alt_R" : "XF86WakeUp";
}

PortalShortcuts::PortalShortcuts(QDBusConnection bus) : requests_(std::move(bus)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    // The signal's slot is matched by type name, which Qt knows only once the type is registered.
    qRegisterMetaType<QDBusObjectPath>();
}

PortalShortcuts::~PortalShortcuts() {
    if (session_.isEmpty()) {
        return;
    }
    QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, session_, kSessionInterface,
                                                        QStringLiteral("Close"));
    requests_.bus().send(close);
}

bool PortalShortcuts::start(Handler handler) {
    const std::string problem = portalProblem(requests_.bus(), kInterface, 1);
    if (!problem.empty()) {
        fail(problem);
        return false;
    }
    handler_ = std::move(handler);
    auto& bus = requests_.bus();
    bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Deactivated"), this,
                SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    requests_.call(kInterface, QStringLiteral("CreateSession"), {},
                   {{QStringLiteral("session_handle_token"), PortalRequests::newToken()}},
                   [this](uint response, const QVariantMap& results) {
                       session_ = portalSessionHandle(results);
                       if (response != portalSuccess || session_.isEmpty()) {
                           fail("el portal no abrió la sesión de atajos (" +
                                results.value(QStringLiteral("error")).toString().toStdString() +
                                ")");
                           return;
                       }
                       requests_.bus().connect(kPortalService, session_, kSessionInterface,
                                               QStringLiteral("Closed"), this,
                                               SLOT(onSessionClosed(QVariantMap)));
                       bind();
                   });
    return true;
}

void PortalShortcuts::bind() {
    const QList<Shortcut> shortcuts{
        {QString::fromLatin1(kDictationShortcut),
         {{QStringLiteral("description"), QStringLiteral("Dictar (mantener pulsada para hablar)")},
          {QStringLiteral("preferred_trigger"),
           QString::fromStdString(preferredTrigger(Prefs::hotkey()))}}},
        {QString::fromLatin1(kCancelShortcut),
         {{QStringLiteral("description"), QStringLiteral("Cancelar el dictado")},
          {QStringLiteral("preferred_trigger"), QStringLiteral("Escape")}}},
    };
    requests_.call(
        kInterface, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, [this](uint response, const QVariantMap& results) {
            if (response == portalCancelled) {
                fail("el usuario no aceptó los atajos de Vozmo en el portal");
                return;
            }
            if (response != portalSuccess) {
                fail("el portal no asignó los atajos (" +
                     results.value(QStringLiteral("error")).toString().toStdString() + ")");
                return;
            }
            bound_ = true;
            log("Tecla de dictado: atajo global del portal del escritorio");
        });
}

void PortalShortcuts::fail(const std::string& problem) {
    problem_ = problem;
    bound_ = false;
    log("Atajos globales del portal no disponibles: " + problem);
}

void PortalShortcuts::deliver(const QDBusObjectPath& session, const QString& id, bool pressed) {
    if (!handler_ || session.path() != session_) {
        return;
    }
    if (id == QLatin1String(kDictationShortcut)) {
        dictationHeld_ = pressed;
        // The handler tells the dictation key by the preference, read at each event as it does.
        handler_({Prefs::hotkey() == Prefs::kHotkeyRightAlt ? Key::rightAlt : Key::fn, pressed});
    } else if (id == QLatin1String(kCancelShortcut)) {
        handler_({Key::escape, pressed});
    }
}

void PortalShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                  const QVariantMap&) {
    deliver(session, id, true);
}

void PortalShortcuts::onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                    const QVariantMap&) {
    deliver(session, id, false);
}

void PortalShortcuts::onSessionClosed(const QVariantMap&) {
    if (dictationHeld_ && handler_) {
        // No Deactivated follows a closed session: let go of the key, or a push-to-talk
        // recording would run on until its cap.
        dictationHeld_ = false;
        handler_({Prefs::hotkey() == Prefs::kHotkeyRightAlt ? Key::rightAlt : Key::fn, false});
    }
    session_.clear();
    fail("el escritorio cerró la sesión de atajos");
}

std::unique_ptr<KeyEvents> makePortalShortcuts() {
    return std::make_unique<PortalShortcuts>(QDBusConnection::sessionBus());
}

std::string portalShortcutsProblem() {
    return portalProblem(QDBusConnection::sessionBus(), kInterface, 1);
}

} // namespace vozmo
