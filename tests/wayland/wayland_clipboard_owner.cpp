// Owns the Wayland clipboard like another program would, with faults to order. Arguments:
//   MIME::TEXT       a format and its bytes (MIME types may hold "=")
//   MIME::@FILE      a format whose bytes are the file's
//   --die-on MIME    the process ends at once, without answering, when MIME is asked for
//   --hang-on MIME   the process never answers when MIME is asked for, and keeps the pipe open
// Prints "ready" once the compositor has made it the clipboard's owner; exits when it no longer
// is. Written straight against the data-control protocol, apart from the code it tests.
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct Owner {
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    std::vector<std::pair<std::string, std::string>> formats;
    std::string dieOn;
    std::string hangOn;
    std::vector<int> held;
    // The compositor announces every selection, ours too, with an offer made for us.
    std::vector<zwlr_data_control_offer_v1*> offers;
    bool cancelled = false;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* owner = static_cast<Owner*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && owner->seat == nullptr) {
        owner->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
        owner->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {onGlobal, onGlobalRemove};

void onSend(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd) {
    auto* owner = static_cast<Owner*>(data);
    if (owner->dieOn == mimeType) {
        ::_exit(3);
    }
    if (owner->hangOn == mimeType) {
        owner->held.push_back(fd);
        return;
    }
    for (const auto& [type, bytes] : owner->formats) {
        if (type == mimeType) {
            std::size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
        }
    }
    ::close(fd);
}
void onCancelled(void* data, zwlr_data_control_source_v1*) {
    static_cast<Owner*>(data)->cancelled = true;
}
const zwlr_data_control_source_v1_listener kSource = {onSend, onCancelled};

void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    static_cast<Owner*>(data)->offers.push_back(offer);
}
void onSelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
void onFinished(void*, zwlr_data_control_device_v1*) {}
const zwlr_data_control_device_v1_listener kDevice = {onDataOffer, onSelection, onFinished,
                                                      onSelection};

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Owner owner;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--die-on" || arg == "--hang-on") && i + 1 < argc) {
            (arg == "--die-on" ? owner.dieOn : owner.hangOn) = argv[++i];
            continue;
        }
        auto split = arg.find("::");
        if (split == std::string::npos || split == 0) {
            std::fprintf(stderr, "wayland_clipboard_owner: expected MIME::TEXT, got %s\n", argv[i]);
            return 2;
        }
        std::string bytes = arg.substr(split + 2);
        if (!bytes.empty() && bytes[0] == '@') {
            std::ifstream file(bytes.substr(1), std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(file), {});
        }
        owner.formats.emplace_back(arg.substr(0, split), std::move(bytes));
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wayland_clipboard_owner: no Wayland display\n");
        return 2;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &owner);
    wl_display_roundtrip(display);
    if (owner.seat == nullptr || owner.manager == nullptr) {
        std::fprintf(stderr, "wayland_clipboard_owner: no data control\n");
        return 2;
    }
    auto* device = zwlr_data_control_manager_v1_get_data_device(owner.manager, owner.seat);
    zwlr_data_control_device_v1_add_listener(device, &kDevice, &owner);
    auto* source = zwlr_data_control_manager_v1_create_data_source(owner.manager);
    zwlr_data_control_source_v1_add_listener(source, &kSource, &owner);
    for (const auto& format : owner.formats) {
        zwlr_data_control_source_v1_offer(source, format.first.c_str());
    }
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    std::puts("ready");
    std::fflush(stdout);
    while (!owner.cancelled && wl_display_dispatch(display) >= 0) {
    }
    // Disconnecting frees none of the objects made on the connection.
    for (auto* offer : owner.offers) {
        zwlr_data_control_offer_v1_destroy(offer);
    }
    zwlr_data_control_source_v1_destroy(source);
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(owner.manager);
    wl_seat_destroy(owner.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
