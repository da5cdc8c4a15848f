#pragma once

#include "key_events.h"
#include "portal_request.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

namespace vozmo {

// The dictation key (and an optional cancel key) as global shortcuts of the desktop portal
// (org.freedesktop.portal.GlobalShortcuts), for Wayland desktops where no program may watch
// the keyboard. Activated is the key going down, Deactivated the key going up, so the handler
// sees the same presses and releases as from a watched keyboard and push-to-talk keeps
// working; the Activated the desktop repeats while the key is held are dropped.
//
// A shortcut the desktop takes is taken from every application, all day: no key an
// application uses is suggested. The dictation key's suggestion is a function key that types
// nothing; the cancel shortcut comes with no suggested key, for the user to assign one in the
// desktop's shortcut settings if wanted.
//
// The session opens at start and again when the desktop closes it. Its shortcuts are passed
// both to CreateSession (KDE Plasma 5.27 registers them only from there) and to BindShortcuts
// (the call the portal documents). The key counts as set up only once the desktop reports a
// trigger for the dictation shortcut.
class PortalShortcuts : public QObject, public KeyEvents {
    Q_OBJECT
public:
    explicit PortalShortcuts(QDBusConnection bus);
    ~PortalShortcuts() override;

    // Starts the session and the binding; true when the portal is there and took the first
    // call. The user may still refuse in the portal's dialog: problem() says so afterwards.
    // Called again, it only hands the events to the new handler.
    bool start(Handler handler) override;
    std::string keyName() const override { return trigger_; }

    // "" while the shortcuts work or are being set up; otherwise why they do not.
    const std::string& problem() const { return problem_; }
    // True once the desktop reports a trigger for the dictation shortcut.
    bool bound() const { return bound_; }
    // The dictation key as the desktop names it ("F8"), "" while it has none.
    const std::string& trigger() const { return trigger_; }
    // The cancel key as the desktop names it, "" while the user has assigned none.
    const std::string& cancelTrigger() const { return cancelTrigger_; }

    // Called on the main thread whenever bound(), trigger() or problem() change.
    std::function<void()> onChange;

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                       const QVariantMap& options);
    void onShortcutsChanged(const QDBusObjectPath& session, const QDBusArgument& shortcuts);
    void onSessionClosed(const QVariantMap& details);

private:
    void open();
    void bind();
    void list();
    // Takes the triggers from an answer's "shortcuts"; true when the dictation key has one.
    bool readTriggers(const QVariant& shortcuts);
    void fail(const std::string& problem);
    void deliver(const QDBusObjectPath& session, const QString& id, bool pressed);
    void changed();

    PortalRequests requests_;
    Handler handler_;
    QString session_;
    std::string problem_;
    std::string trigger_;
    std::string cancelTrigger_;
    bool started_ = false;
    bool bound_ = false;
    bool dictationHeld_ = false; // so a closed session never leaves the key down
    bool cancelHeld_ = false;
    QTimer reopen_;
};

inline constexpr char kDictationShortcut[] = "dictar";
inline constexpr char kCancelShortcut[] = "cancelar";
// The dictation key suggested to the desktop (XDG shortcuts syntax): a function key exists on
// every PC keyboard, types nothing, and KDE accepts it alone (Meta+ combinations and
// Ctrl+Alt+F-keys it refuses or keeps for itself).
inline constexpr char kPortalDictationTrigger[] = "F8";

// Global shortcuts through the portal on the session bus.
std::unique_ptr<PortalShortcuts> makePortalShortcuts();

// Why the portal's global shortcuts cannot be used here ("" when they can).
std::string portalShortcutsProblem();

} // namespace vozmo
