#include "virtual_keyboard_wayland.h"

#include "log.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace vozmo {

namespace {

// Globals the paste needs from the registry.
struct Globals {
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    bool seatHasKeyboard = false;
};

void onCapabilities(void* data, wl_seat*, uint32_t capabilities) {
    static_cast<Globals*>(data)->seatHasKeyboard =
        (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}

void onSeatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {onCapabilities, onSeatName};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, version < 2 ? version : 2));
        wl_seat_add_listener(globals->seat, &kSeatListener, globals);
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
               globals->manager == nullptr) {
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

std::uint32_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

} // namespace

struct WaylandKeySynth::Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Globals globals;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;

    ~Connection() {
        if (keyboard != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard);
        }
        if (globals.manager != nullptr) {
            zwp_virtual_keyboard_manager_v1_destroy(globals.manager);
        }
        if (globals.seat != nullptr) {
            wl_seat_destroy(globals.seat);
        }
        if (registry != nullptr) {
            wl_registry_destroy(registry);
        }
        if (display != nullptr) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }

    // Connects and reads the globals; the reason when that fails.
    std::string open() {
        display = wl_display_connect(nullptr);
        if (display == nullptr) {
            return "no hay conexión con el compositor Wayland";
        }
        registry = wl_display_get_registry(display);
        wl_registry_add_listener(registry, &kRegistryListener, &globals);
        // Twice: the globals, then the seat's capabilities.
        if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
            return "el compositor Wayland no responde";
        }
        if (globals.manager == nullptr) {
            return "el compositor no ofrece el teclado virtual (zwp_virtual_keyboard_v1)";
        }
        if (globals.seat == nullptr) {
            return "el compositor no tiene teclado (wl_seat)";
        }
        return "";
    }

    // The keyboard with its keymap: the XKB default layout (XKB_DEFAULT_* or "us"), complete, so
    // the target reads every key of the stroke as the key it is.
    bool makeKeyboard() {
        context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        keymap = context == nullptr
                     ? nullptr
                     : xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap == nullptr) {
            log("Teclado virtual: no se pudo crear el mapa de teclado");
            return false;
        }
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (text == nullptr) {
            return false;
        }
        const std::size_t size = std::strlen(text) + 1;
        int fd = memfd_create("vozmo-keymap", MFD_CLOEXEC);
        bool written = fd >= 0 && ::write(fd, text, size) == static_cast<ssize_t>(size);
        std::free(text);
        if (!written) {
            if (fd >= 0) {
                ::close(fd);
            }
            log("Teclado virtual: no se pudo preparar el mapa de teclado");
            return false;
        }
        keyboard =
            zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        ::close(fd);
        // The compositor hands the keymap to the focused client before our first key; wait
        // until it has taken it.
        if (wl_display_roundtrip(display) < 0) {
            return false;
        }
        if (!globals.seatHasKeyboard) {
            // A seat without a keyboard (a tablet, a remote session) gains one with ours; the
            // focused client first has to ask for its keyboard and receive the focus, and
            // keys sent before that are lost. We cannot see another client, so give it a
            // moment, once.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return true;
    }

    // The evdev code of the first key whose base level gives `keysym`; 0 when none does.
    std::uint32_t evdevCode(xkb_keysym_t keysym) const {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
             code <= xkb_keymap_max_keycode(keymap); ++code) {
            const xkb_keysym_t* syms = nullptr;
            int count = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms);
            for (int i = 0; i < count; ++i) {
                if (syms[i] == keysym && code >= 8) {
                    return code - 8; // XKB keycodes are evdev codes plus 8
                }
            }
        }
        return 0;
    }

    std::uint32_t modMask(const char* name) const {
        xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
        return index == XKB_MOD_INVALID ? 0 : (1u << index);
    }
};

WaylandKeySynth::WaylandKeySynth() = default;

WaylandKeySynth::~WaylandKeySynth() = default;

bool WaylandKeySynth::send(const KeyStroke& stroke) {
    // A compositor restart or a protocol error ends the connection: start afresh next time.
    if (connection_ && wl_display_get_error(connection_->display) != 0) {
        connection_.reset();
    }
    if (!connection_) {
        auto connection = std::make_unique<Connection>();
        std::string problem = connection->open();
        if (!problem.empty()) {
            log("Teclado virtual: " + problem);
            return false;
        }
        if (!connection->makeKeyboard()) {
            return false;
        }
        connection_ = std::move(connection);
    }
    Connection& c = *connection_;
    const xkb_keysym_t keysym = xkb_keysym_from_name(stroke.key.c_str(), XKB_KEYSYM_NO_FLAGS);
    const std::uint32_t key = keysym == XKB_KEY_NoSymbol ? 0 : c.evdevCode(keysym);
    if (key == 0) {
        log("No se puede sintetizar la tecla " + stroke.key + " con este teclado");
        return false;
    }
    // The modifier keys go down as keys too, not only as a mask: some toolkits look at the keys
    // held, not only at the modifier state the compositor forwards.
    std::uint32_t mods = 0;
    std::vector<std::uint32_t> chord;
    if (stroke.control) {
        mods |= c.modMask(XKB_MOD_NAME_CTRL);
        chord.push_back(KEY_LEFTCTRL);
    }
    if (stroke.shift) {
        mods |= c.modMask(XKB_MOD_NAME_SHIFT);
        chord.push_back(KEY_LEFTSHIFT);
    }
    // The text is already the seat's selection: the clipboard's writer waited for the
    // compositor's answer, so the focused window hears of it before these keys.
    zwp_virtual_keyboard_v1* kb = c.keyboard;
    for (std::uint32_t code : chord) {
        zwp_virtual_keyboard_v1_key(kb, nowMs(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
    }
    zwp_virtual_keyboard_v1_modifiers(kb, mods, 0, 0, 0);
    zwp_virtual_keyboard_v1_key(kb, nowMs(), key, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(kb, nowMs(), key, WL_KEYBOARD_KEY_STATE_RELEASED);
    for (auto it = chord.rbegin(); it != chord.rend(); ++it) {
        zwp_virtual_keyboard_v1_key(kb, nowMs(), *it, WL_KEYBOARD_KEY_STATE_RELEASED);
    }
    zwp_virtual_keyboard_v1_modifiers(kb, 0, 0, 0, 0);
    return wl_display_roundtrip(c.display) >= 0;
}

std::string virtualKeyboardProblem() {
    WaylandKeySynth::Connection connection;
    return connection.open();
}

} // namespace vozmo
