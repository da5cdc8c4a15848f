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
// A desktop that closes the session (a restart of its shortcut service) gets a new one after
// this pause; the pause also keeps a desktop that closes every session at once from a loop.
constexpr int kReopenDelayMs = 2000;

// One element of the a(sa{sv}) shortcut lists.
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

QList<Shortcut> requestedShortcuts() {
    return {
        {QString::fromLatin1(kDictationShortcut),
         {{QStringLiteral("description"), QStringLiteral("Dictar (mantener pulsada para hablar)")},
          {QStringLiteral("preferred_trigger"), QString::fromLatin1(kPortalDictationTrigger)}}},
        // No suggested key: any key suggested here would be taken from every application.
        {QString::fromLatin1(kCancelShortcut),
         {{QStringLiteral("description"), QStringLiteral("Cancelar el dictado")}}},
    };
}

std::string errorOf(const QVariantMap& results) {
    const QString error = results.value(QStringLiteral("error")).toString();
    return error.isEmpty() ? std::string() : " (" + error.toStdString() + ")";
}

} // namespace

} // namespace vozmo

Q_DECLARE_METATYPE(vozmo::Shortcut)

namespace vozmo {

PortalShortcuts::PortalShortcuts(QDBusConnection bus) : requests_(std::move(bus)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    // The signal's slot is matched by type name, which Qt knows only once the type is registered.
    qRegisterMetaType<QDBusObjectPath>();
    reopen_.setSingleShot(true);
    reopen_.setInterval(kReopenDelayMs);
    connect(&reopen_, &QTimer::timeout, this, [this] { open(); });
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
    if (started_) {
        handler_ = std::move(handler);
        return true;
    }
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
    bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                SLOT(onShortcutsChanged(QDBusObjectPath, QDBusArgument)));
    started_ = true;
    open();
    return true;
}

void PortalShortcuts::open() {
    QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequests::newToken()}};
    // KDE Plasma 5.27 registers only the shortcuts given here; BindShortcuts alone answers an
    // empty list there.
    options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(requestedShortcuts()));
    requests_.call(kInterface, QStringLiteral("CreateSession"), {}, options,
                   [this](uint response, const QVariantMap& results) {
                       session_ = portalSessionHandle(results);
                       if (response != portalSuccess || session_.isEmpty()) {
                           session_.clear();
                           fail("el portal no abrió la sesión de atajos" + errorOf(results));
                           return;
                       }
                       requests_.bus().connect(kPortalService, session_, kSessionInterface,
                                               QStringLiteral("Closed"), this,
                                               SLOT(onSessionClosed(QVariantMap)));
                       readTriggers(results.value(QStringLiteral("shortcuts")));
                       bind();
                   });
}

void PortalShortcuts::bind() {
    requests_.call(kInterface, QStringLiteral("BindShortcuts"),
                   {QVariant::fromValue(QDBusObjectPath(session_)),
                    QVariant::fromValue(requestedShortcuts()), QString()},
                   {}, [this](uint response, const QVariantMap& results) {
                       if (response == portalCancelled) {
                           fail("el usuario no aceptó los atajos de Vozmo en el portal");
                           return;
                       }
                       if (response != portalSuccess) {
                           fail("el portal no asignó los atajos" + errorOf(results));
                           return;
                       }
                       if (readTriggers(results.value(QStringLiteral("shortcuts")))) {
                           changed();
                           return;
                       }
                       // Some desktops answer the binding with the shortcuts but not their keys.
                       list();
                   });
}

void PortalShortcuts::list() {
    requests_.call(kInterface, QStringLiteral("ListShortcuts"),
                   {QVariant::fromValue(QDBusObjectPath(session_))}, {},
                   [this](uint response, const QVariantMap& results) {
                       if (response == portalSuccess &&
                           readTriggers(results.value(QStringLiteral("shortcuts")))) {
                           changed();
                           return;
                       }
                       fail(
                           "el escritorio no ha asignado ninguna tecla al dictado: asígnala en sus "
                           "atajos de teclado, en «Vozmo › Dictar»");
                   });
}

bool PortalShortcuts::readTriggers(const QVariant& shortcuts) {
    if (!shortcuts.canConvert<QDBusArgument>()) {
        return bound_;
    }
    QList<Shortcut> list;
    shortcuts.value<QDBusArgument>() >> list;
    std::string dictation;
    std::string cancel;
    for (const Shortcut& shortcut : list) {
        const std::string trigger = shortcut.properties.value(QStringLiteral("trigger_description"))
                                        .toString()
                                        .toStdString();
        if (shortcut.id == QLatin1String(kDictationShortcut)) {
            dictation = trigger;
        } else if (shortcut.id == QLatin1String(kCancelShortcut)) {
            cancel = trigger;
        }
    }
    cancelTrigger_ = cancel;
    if (dictation.empty()) {
        return false;
    }
    const bool news = !bound_ || trigger_ != dictation;
    trigger_ = dictation;
    bound_ = true;
    problem_.clear();
    if (news) {
        log("Tecla de dictado: atajo global del portal del escritorio, " + trigger_ +
            (cancelTrigger_.empty() ? std::string(" (sin tecla para cancelar)")
                                    : ", cancelar con " + cancelTrigger_));
    }
    return true;
}

void PortalShortcuts::fail(const std::string& problem) {
    problem_ = problem;
    bound_ = false;
    trigger_.clear();
    log("Atajos globales del portal no disponibles: " + problem);
    changed();
}

void PortalShortcuts::changed() {
    if (onChange) {
        onChange();
    }
}

void PortalShortcuts::deliver(const QDBusObjectPath& session, const QString& id, bool pressed) {
    if (!handler_ || session.path() != session_) {
        return;
    }
    // While a key is held the desktop repeats Activated (KDE: after about 660 ms, then every
    // 40 ms); a key that is down already stays one press.
    if (id == QLatin1String(kDictationShortcut)) {
        if (dictationHeld_ == pressed) {
            return;
        }
        dictationHeld_ = pressed;
        // The handler tells the dictation key by the preference, read at each event as it does.
        handler_({Prefs::hotkey() == "ropt" ? Key::rightAlt : Key::fn, pressed});
    } else if (id == QLatin1String(kCancelShortcut)) {
        if (cancelHeld_ == pressed) {
            return;
        }
        cancelHeld_ = pressed;
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

void PortalShortcuts::onShortcutsChanged(const QDBusObjectPath& session,
                                         const QDBusArgument& shortcuts) {
    if (session.path() != session_) {
        return;
    }
    // The user changed the keys in the desktop's settings.
    QVariant value = QVariant::fromValue(shortcuts);
    if (readTriggers(value)) {
        changed();
    } else if (bound_) {
        fail("el escritorio ya no asigna ninguna tecla al dictado: asígnala en sus atajos de "
             "teclado, en «Vozmo › Dictar»");
    }
}

void PortalShortcuts::onSessionClosed(const QVariantMap&) {
    if (dictationHeld_ && handler_) {
        // No Deactivated follows a closed session: let go of the key, or a push-to-talk
        // recording would run on until its cap.
        dictationHeld_ = false;
        handler_({Prefs::hotkey() == "ropt" ? Key::rightAlt : Key::fn, false});
    }
    cancelHeld_ = false;
    requests_.bus().disconnect(kPortalService, session_, kSessionInterface,
                               QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)));
    session_.clear();
    fail("el escritorio cerró la sesión de atajos; se abre otra");
    reopen_.start();
}

std::unique_ptr<PortalShortcuts> makePortalShortcuts() {
    return std::make_unique<PortalShortcuts>(QDBusConnection::sessionBus());
}

std::string portalShortcutsProblem() {
    return portalProblem(QDBusConnection::sessionBus(), kInterface, 1);
}

} // namespace vozmo
