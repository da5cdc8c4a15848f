#pragma once

#include <memory>
#include <vector>

#include "key_events.h"

namespace vozmo::test {

// A keyboard for monitors made by FakeKeyEvents: every live, started monitor hears each event
// typed, so a test sees duplicates if more than one set of monitors is left installed.
class FakeKeyboard {
public:
    void type(const KeyEvent& event) {
        // A copy: a handler may install again, which ends monitors.
        const auto handlers = handlers_;
        for (const auto& entry : handlers) {
            if (auto handler = entry.lock()) {
                (*handler)(event);
            }
        }
    }
    int liveMonitors() const {
        int live = 0;
        for (const auto& entry : handlers_) {
            live += entry.expired() ? 0 : 1;
        }
        return live;
    }

    bool available = true;

private:
    friend class FakeKeyEvents;
    std::vector<std::weak_ptr<KeyEvents::Handler>> handlers_;
};

class FakeKeyEvents final : public KeyEvents {
public:
    explicit FakeKeyEvents(FakeKeyboard& keyboard) : keyboard_(keyboard) {}

    bool start(Handler handler) override {
        if (!keyboard_.available) {
            return false;
        }
        handler_ = std::make_shared<Handler>(std::move(handler));
        keyboard_.handlers_.push_back(handler_);
        return true;
    }

private:
    FakeKeyboard& keyboard_;
    std::shared_ptr<Handler> handler_;
};

} // namespace vozmo::test
