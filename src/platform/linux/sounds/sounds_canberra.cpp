#include "sounds.h"

#include <canberra.h>

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

    void play(Sound sound) override {
        if (context_ == nullptr) {
            return;
        }
        // Short, distinct sounds of the freedesktop theme for the three roles.
        const char* event = "dialog-error";
        const char* description = "error";
        switch (sound) {
        case Sound::start:
            event = "audio-volume-change";
            description = "start";
            break;
        case Sound::stop:
            event = "complete";
            description = "stop";
            break;
        case Sound::error:
            break;
        }
        ca_context_play(context_, 0, CA_PROP_EVENT_ID, event, CA_PROP_EVENT_DESCRIPTION,
                        description, nullptr);
    }

private:
    ca_context* context_ = nullptr;
};

} // namespace

std::unique_ptr<SoundPlayer> makeSystemSoundPlayer() {
    return std::make_unique<CanberraPlayer>();
}

} // namespace vozmo
