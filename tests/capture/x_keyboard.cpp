#include "x_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vozmo::test {
namespace {

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

} // namespace

XKeyboard::XKeyboard() : display_(XOpenDisplay(nullptr)) {}

XKeyboard::~XKeyboard() {
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
    }
}

unsigned XKeyboard::keycodeOf(const std::string& keysym) {
    return XKeysymToKeycode(asDisplay(display_), XStringToKeysym(keysym.c_str()));
}

void XKeyboard::map(unsigned keycode, const std::string& keysym) {
    KeySym sym = XStringToKeysym(keysym.c_str());
    XChangeKeyboardMapping(asDisplay(display_), static_cast<int>(keycode), 1, &sym, 1);
    XSync(asDisplay(display_), False);
}

void XKeyboard::tap(unsigned keycode) {
    XTestFakeKeyEvent(asDisplay(display_), keycode, True, CurrentTime);
    XTestFakeKeyEvent(asDisplay(display_), keycode, False, CurrentTime);
    XSync(asDisplay(display_), False);
}

void XKeyboard::setRepeat(bool on) {
    XkbChangeEnabledControls(asDisplay(display_), XkbUseCoreKbd, XkbRepeatKeysMask,
                             on ? XkbRepeatKeysMask : 0);
    XSync(asDisplay(display_), False);
}

} // namespace vozmo::test
