#include "sounds.h"

#include <canberra.h>

#include <map>

namespace vozmo {

namespace {

class CanberraPlayer final : public SoundPlayer {
public:
    CanberraPlayer() {
        if (ca_context_create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            return;
        }
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Vozmo", CA_PROP_APPLICATION_ID,
                                "vozmo", nullptr);
    }
    ~CanberraPlayer() override {
        if (context_ != nullptr) {
            ca_context_destroy(context_);
        }
    }
    CanberraPlayer(const CanberraPlayer&) = delete;
    CanberraPlayer& operator=(const CanberraPlayer&) = delete;

    void play(const std::string& name) override {
        // Short, distinct sounds of the freedesktop theme for the three roles.
        static const std::map<std::string, const char*> events = {
            {"Tink", "audio-volume-change"},
            {"Pop", "complete"},
            {"Basso", "dialog-error"},
        };
        auto it = events.find(name);
        if (context_ == nullptr || it == events.end()) {
            return;
        }
        ca_context_play(context_, 0, CA_PROP_EVENT_ID, it->second, CA_PROP_EVENT_DESCRIPTION,
                        name.c_str(), nullptr);
    }

private:
    ca_context* context_ = nullptr;
};

} // namespace

std::unique_ptr<SoundPlayer> makeSystemSoundPlayer() {
    return std::make_unique<CanberraPlayer>();
}

} // namespace vozmo
