#include "sounds.h"

#include <canberra.h>

#include <dlfcn.h>
#include <link.h>

#include <set>
#include <string>
#include <string_view>

namespace vozmo {

namespace {

// libcanberra's ALSA driver plays every sound in a detached thread of its own module. Destroying
// the context cancels those threads and waits until each has left its list, but each still runs
// a few instructions of the module after that, while the context unloads the module (and ALSA
// its plugins): a quit right after a sound then crashed in unmapped code. The modules are kept
// loaded until the process ends instead; each is mapped once, whatever the number of sounds.
bool isSoundModule(std::string_view path) {
    return path.find("/libcanberra-0") != std::string_view::npos ||
           path.find("libasound_module_") != std::string_view::npos;
}

void keepSoundModulesLoaded(std::set<std::string>& kept) {
    std::set<std::string> loaded;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            if (info->dlpi_name != nullptr && isSoundModule(info->dlpi_name)) {
                static_cast<std::set<std::string>*>(data)->insert(info->dlpi_name);
            }
            return 0;
        },
        &loaded);
    for (const auto& path : loaded) {
        if (kept.contains(path)) {
            continue;
        }
        // Only a module already there: RTLD_NOLOAD loads nothing, RTLD_NODELETE marks it for
        // good, and the reference taken here is given back at once.
        if (void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) {
            dlclose(handle);
            kept.insert(path);
        }
    }
}

class CanberraPlayer final : public SoundPlayer {
public:
    CanberraPlayer() {
        if (ca_context_create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            return;
        }
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Vozmo", CA_PROP_APPLICATION_ID,
                                "vozmo", nullptr);
        // The driver is loaded now rather than by the first sound, so it is kept from the start.
        if (ca_context_open(context_) == CA_SUCCESS) {
            keepSoundModulesLoaded(kept_);
        }
    }
    ~CanberraPlayer() override {
        if (context_ != nullptr) {
            // Cancels the sounds still playing and waits until their threads are done with it.
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
        // ALSA loads its output plugins when the first sound opens the device.
        keepSoundModulesLoaded(kept_);
    }

private:
    ca_context* context_ = nullptr;
    std::set<std::string> kept_; // modules already marked to stay
};

} // namespace

std::unique_ptr<SoundPlayer> makeSystemSoundPlayer() {
    return std::make_unique<CanberraPlayer>();
}

} // namespace vozmo
