#pragma once

#include <memory>
#include <string>

namespace vozmo {

// One desktop notification: a short summary and a sentence or two of body.
struct Notification {
    std::string summary;
    std::string body;
    bool operator==(const Notification&) const = default;
};

// Shows desktop notifications. Sending never blocks and never fails loudly: a desktop without
// a notification service simply shows nothing. Main thread only.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const Notification& notification) = 0;
};

// org.freedesktop.Notifications on the session bus.
std::unique_ptr<Notifier> makeDesktopNotifier();

} // namespace vozmo
