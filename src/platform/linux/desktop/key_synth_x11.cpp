#include "key_synth_x11.h"

#include "log.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

namespace vozmo {

namespace {

bool hasXTest(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != 0;
}

// Keycodes of the modifier keys that are down at this moment.
std::vector<KeyCode> heldModifiers(Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    std::vector<KeyCode> held;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return held;
    }
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        KeyCode code = map->modifiermap[i];
        bool down = code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
        bool seen = false;
        for (KeyCode other : held) {
            seen = seen || other == code;
        }
        if (down && !seen) {
            held.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return held;
}

} // namespace

bool X11KeySynth::send(const KeyStroke& stroke) {
    if (!display_ || !hasXTest(display_.get())) {
        return false;
    }
    Display* display = display_.get();
    KeySym keysym = XStringToKeysym(stroke.key.c_str());
    KeyCode key = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
    KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    if (key == 0 || (stroke.control && control == 0) || (stroke.shift && shift == 0)) {
        log("No se puede sintetizar la tecla " + stroke.key + " con este teclado");
        return false;
    }

    X11ErrorTrap trap(display);
    std::vector<KeyCode> held = heldModifiers(display);
    for (KeyCode code : held) {
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    }
    // Each key goes down and comes up in one batch, so nothing we press can stay stuck.
    std::vector<KeyCode> chord;
    if (stroke.control) {
        chord.push_back(control);
    }
    if (stroke.shift) {
        chord.push_back(shift);
    }
    chord.push_back(key);
    for (KeyCode code : chord) {
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    }
    for (auto it = chord.rbegin(); it != chord.rend(); ++it) {
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
    for (KeyCode code : held) {
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    }
    XSync(display, False);
    return !trap.failed();
}

bool pasteAvailable() {
    X11Display display;
    return display && hasXTest(display.get());
}

} // namespace vozmo
