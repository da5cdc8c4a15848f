#pragma once

#include "key_events.h"
#include "portal_request.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include <memory>
#include <string>

namespace vozmo {

// The dictation key and Escape as global shortcuts of the desktop portal
// (org.freedesktop.portal.GlobalShortcuts), for Wayland desktops where no program may watch
// the keyboard. Activated is the key going down, Deactivated the key going up, so the handler
// sees the same presses and releases as from a watched keyboard and push-to-talk keeps
// working. Both shortcuts are bound once per session: a session can bind only once, and a new
// session per recording would bring the portal's dialog back every time. Escape therefore
// arrives while idle too; the key handler ignores it then, as it does on X11.
class PortalShortcuts : public QObject, public KeyEvents {
    Q_OBJECT
public:
    explicit PortalShortcuts(QDBusConnection bus);
    ~PortalShortcuts() override;

    // Starts the session and the binding; true when the portal is there and took the first
    // call. The user may still refuse in the portal's dialog: problem() says so afterwards.
    bool start(Handler handler) override;

    // "" while the shortcuts work or are being set up; otherwise why they do not.
    const std::string& problem() const { return problem_; }
    // True once the portal has bound the shortcuts.
    bool bound() const { return bound_; }

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                       const QVariantMap& options);
    void onSessionClosed(const QVariantMap& details);

private:
    void bind();
    void fail(const std::string& problem);
    void deliver(const QDBusObjectPath& session, const QString& id, bool pressed);

    PortalRequests requests_;
    Handler handler_;
    QString session_;
    std::string problem_;
    bool bound_ = false;
    bool dictationHeld_ = false; // so a closed session never leaves the key down
};

// The id and the portal's preferred trigger (XDG shortcuts syntax) for a key preference
// (Prefs::kHotkeyFn or Prefs::kHotkeyRightAlt).
inline constexpr char kDictationShortcut[] = "dictar";
inline constexpr char kCancelShortcut[] = "cancelar";
std::string preferredTrigger(const std::string& hotkey);

// Global shortcuts through the portal on the session bus.
std::unique_ptr<KeyEvents> makePortalShortcuts();

// Why the portal's global shortcuts cannot be used here ("" when they can).
std::string portalShortcutsProblem();

} // namespace vozmo
