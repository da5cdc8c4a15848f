#include "portal_key_synth.h"

#include "log.h"
#include "prefs.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>

#include <xkbcommon/xkbcommon.h>

#include <vector>

namespace vozmo {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
// persist_mode and restore tokens came with version 2; version 1 ignores them.
constexpr uint kRestoreTokenVersion = 2;
// A closed session is opened again after this pause, which also keeps a desktop that closes
// every session at once from a loop.
constexpr int kReopenDelayMs = 2000;
// A keystroke is a quick local call; a portal that does not answer in this time is stuck, and
// the caller leaves the text on the clipboard instead.
constexpr int kKeyCallLimitMs = 1000;

std::string errorOf(const QVariantMap& results) {
    const QString error = results.value(QStringLiteral("error")).toString();
    return error.isEmpty() ? std::string() : " (" + error.toStdString() + ")";
}

} // namespace

PortalKeySynth::PortalKeySynth(QDBusConnection bus) : requests_(std::move(bus)) {
    reopen_.setSingleShot(true);
    reopen_.setInterval(kReopenDelayMs);
    connect(&reopen_, &QTimer::timeout, this, [this] { begin(); });
}

PortalKeySynth::~PortalKeySynth() {
    if (session_.isEmpty()) {
        return;
    }
    QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, session_, kSessionInterface,
                                                        QStringLiteral("Close"));
    requests_.bus().send(close);
}

void PortalKeySynth::begin() {
    if (state_ == State::starting || state_ == State::ready) {
        return;
    }
    const std::string problem = portalProblem(requests_.bus(), kInterface, 1, &version_);
    if (!problem.empty()) {
        fail(State::failed, problem);
        return;
    }
    state_ = State::starting;
    problem_ = "esperando el permiso del escritorio para enviar teclas";
    if (onChange) {
        onChange();
    }
    requests_.call(kInterface, QStringLiteral("CreateSession"), {},
                   {{QStringLiteral("session_handle_token"), PortalRequests::newToken()}},
                   [this](uint response, const QVariantMap& results) {
                       session_ = portalSessionHandle(results);
                       if (response != portalSuccess || session_.isEmpty()) {
                           session_.clear();
                           fail(State::failed, "el portal no abrió la sesión de escritorio remoto" +
                                                   errorOf(results));
                           return;
                       }
                       requests_.bus().connect(kPortalService, session_, kSessionInterface,
                                               QStringLiteral("Closed"), this,
                                               SLOT(onSessionClosed(QVariantMap)));
                       selectDevices();
                   });
}

void PortalKeySynth::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), kKeyboard}};
    if (version_ >= kRestoreTokenVersion) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const std::string token = Prefs::remoteDesktopToken();
        if (!token.empty()) {
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
        }
    }
    requests_.call(kInterface, QStringLiteral("SelectDevices"),
                   {QVariant::fromValue(QDBusObjectPath(session_))}, options,
                   [this](uint response, const QVariantMap& results) {
                       if (response == portalCancelled) {
                           fail(State::refused, "el usuario no permitió enviar teclas");
                       } else if (response != portalSuccess) {
                           fail(State::failed, "el portal no aceptó el teclado" + errorOf(results));
                       } else {
                           startSession();
                       }
                   });
}

void PortalKeySynth::startSession() {
    requests_.call(
        kInterface, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {},
        [this](uint response, const QVariantMap& results) {
            if (response == portalCancelled) {
                fail(State::refused, "el usuario no permitió enviar teclas");
                return;
            }
            if (response != portalSuccess) {
                fail(State::failed, "el portal no inició la sesión" + errorOf(results));
                return;
            }
            // A restore token is good for one use: keep the new one, or none, never the
            // old.
            if (version_ >= kRestoreTokenVersion) {
                Prefs::setRemoteDesktopToken(
                    results.value(QStringLiteral("restore_token")).toString().toStdString());
            }
            const QVariant devices = results.value(QStringLiteral("devices"));
            if (devices.isValid() && (devices.toUInt() & kKeyboard) == 0) {
                fail(State::refused, "el escritorio no concedió el teclado");
                return;
            }
            state_ = State::ready;
            problem_.clear();
            log("Pegado: teclas a través del portal del escritorio (RemoteDesktop "
                "versión " +
                std::to_string(version_) + ")");
            if (onChange) {
                onChange();
            }
        });
}

void PortalKeySynth::fail(State state, const std::string& problem) {
    state_ = state;
    problem_ = problem;
    log("Teclas del portal no disponibles: " + problem);
    if (onChange) {
        onChange();
    }
}

void PortalKeySynth::onSessionClosed(const QVariantMap&) {
    requests_.bus().disconnect(kPortalService, session_, kSessionInterface,
                               QStringLiteral("Closed"), this, SLOT(onSessionClosed(QVariantMap)));
    session_.clear();
    // Only a granted session is opened again: the portal also closes the session the user
    // refused, and asking again would put the dialog back over the user's work.
    if (state_ == State::ready) {
        fail(State::failed, "el escritorio cerró la sesión de escritorio remoto; se abre otra");
        reopen_.start();
    } else if (state_ == State::starting) {
        fail(State::failed, "el escritorio cerró la sesión de escritorio remoto antes del permiso");
    }
}

bool PortalKeySynth::notify(int keysym, bool pressed) {
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface,
                                                       QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap() << keysym
         << static_cast<uint>(pressed ? 1 : 0);
    const QDBusPendingCall pending = requests_.bus().asyncCall(call, kKeyCallLimitMs);
    auto* watcher = new QDBusPendingCallWatcher(pending, this); // deleted below, or with us
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                if (!answered->isError()) {
                    return;
                }
                // An error that arrives after a later stroke was sent may be an earlier
                // stroke's; counting it against the current one errs on the side of leaving the
                // text on the clipboard.
                strokeFailed_ = true;
                problem_ = "el portal rechazó la tecla o no respondió (" +
                           answered->error().message().toStdString() + ")";
                log("Teclas del portal: " + problem_);
            });
    return true;
}

bool PortalKeySynth::send(const KeyStroke& stroke) {
    strokeFailed_ = false;
    if (state_ != State::ready) {
        if (problem_.empty()) {
            problem_ = "no se ha pedido permiso al escritorio para enviar teclas";
        }
        log("No se envía la tecla: " + problem_);
        return false;
    }
    const xkb_keysym_t key = xkb_keysym_from_name(stroke.key.c_str(), XKB_KEYSYM_NO_FLAGS);
    if (key == XKB_KEY_NoSymbol) {
        problem_ = "tecla desconocida: " + stroke.key;
        log("No se envía la tecla: " + problem_);
        return false;
    }
    std::vector<int> keys;
    if (stroke.control) {
        keys.push_back(XKB_KEY_Control_L);
    }
    if (stroke.shift) {
        keys.push_back(XKB_KEY_Shift_L);
    }
    keys.push_back(static_cast<int>(key));

    std::vector<int> pressed;
    bool ok = true;
    for (int keysym : keys) {
        if (!notify(keysym, true)) {
            ok = false;
            break;
        }
        pressed.push_back(keysym);
    }
    // Release in reverse order, and on failure whatever did go down, so no modifier stays held.
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
        ok = notify(*it, false) && ok;
    }
    if (!ok) {
        log("No se envía la tecla: " + problem_);
        return false;
    }
    return true;
}

std::unique_ptr<PortalKeySynth> makePortalKeySynth() {
    auto synth = std::make_unique<PortalKeySynth>(QDBusConnection::sessionBus());
    synth->begin();
    return synth;
}

std::string portalKeySynthProblem() {
    return portalProblem(QDBusConnection::sessionBus(), kInterface, 1);
}

} // namespace vozmo
