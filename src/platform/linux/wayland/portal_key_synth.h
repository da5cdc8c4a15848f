#pragma once

#include "key_synth.h"
#include "portal_request.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <functional>

#include <memory>
#include <string>

namespace vozmo {

// Key strokes through the desktop portal's remote desktop session
// (org.freedesktop.portal.RemoteDesktop, NotifyKeyboardKeysym), for Wayland desktops that
// offer no other way to type into another application (KDE Plasma, GNOME). Version 1 of the
// portal has everything a paste needs; where version 2 or later hands out a restore token, it
// is kept in the preferences and passed the next time, so later starts do not ask again. A
// session the desktop closes is opened again.
class PortalKeySynth : public QObject, public KeySynth {
    Q_OBJECT
public:
    explicit PortalKeySynth(QDBusConnection bus);
    ~PortalKeySynth() override;

    // Opens the session, asking the user (or restoring the stored permission). Call at
    // start-up rather than at the first paste: the portal's dialog would take the focus from
    // the window the text is for.
    void begin();

    // Presses the stroke's modifiers, then the key, and releases them in reverse order, without
    // waiting for the portal's answers (the bus keeps them in order). False when the session is
    // not (yet) allowed to send keys; a call the portal refuses or never answers makes
    // lastStrokeFailed() true later. problem() says why.
    bool send(const KeyStroke& stroke) override;
    bool lastStrokeFailed() const override { return strokeFailed_; }

    bool ready() const { return state_ == State::ready; }
    // True once the user refused: nothing is asked again until begin() is called.
    bool refused() const { return state_ == State::refused; }
    // True while the portal has not answered yet (its dialog may be open).
    bool waiting() const { return state_ == State::starting; }
    // Why strokes cannot be sent now ("" when they can).
    const std::string& problem() const { return problem_; }

    // Called on the main thread whenever ready(), waiting() or problem() change.
    std::function<void()> onChange;

private slots:
    void onSessionClosed(const QVariantMap& details);

private:
    enum class State { idle, starting, ready, refused, failed };

    void selectDevices();
    void startSession();
    void fail(State state, const std::string& problem);
    bool notify(int keysym, bool pressed);

    PortalRequests requests_;
    State state_ = State::idle;
    QString session_;
    std::string problem_;
    uint version_ = 0;
    bool strokeFailed_ = false;
    QTimer reopen_;
};

// Remote desktop key strokes through the portal on the session bus, already asking for the
// session (begin()).
std::unique_ptr<PortalKeySynth> makePortalKeySynth();

// Why the portal cannot send key strokes here ("" when it can).
std::string portalKeySynthProblem();

} // namespace vozmo
