#pragma once

#include "dictation_state.h"
#include "notifier.h"

#include <string>

namespace vozmo {

// The few things the user must hear about while no window of Vozmo is in sight, as desktop
// notifications. Routine events (ready, copied from the history, settings) never notify.
class Notices {
public:
    // `notifier` may be null (nothing is shown); it must outlive this object.
    explicit Notices(Notifier* notifier) : notifier_(notifier) {}

    // The speech server failed its restarts: dictation is off until Vozmo starts again. Once
    // per run.
    void speechServerGaveUp(const std::string& logFile);
    // A download that ended with every model present; the setup window says it when open.
    void modelsReady(bool setupWindowVisible, const std::string& hotkeyName);
    // A dictation went to the clipboard instead of being pasted, for the reason given.
    void leftOnClipboard(const std::string& pasteKeys, LeftReason why);
    // No tray host shows the icon: the setup window is the way in. Once per run.
    void noTrayHost();

private:
    void send(std::string summary, std::string body);

    Notifier* notifier_;
    bool toldGaveUp_ = false;
    bool toldNoTray_ = false;
};

} // namespace vozmo
