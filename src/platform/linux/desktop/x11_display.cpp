#include "x11_display.h"

#include "display_loss.h"

#include <X11/Xlib.h>

namespace vozmo {

namespace {
// Set by the trap's handler; Xlib gives the handler no user data.
bool trappedError = false;

int recordError(Display*, XErrorEvent*) {
    trappedError = true;
    return 0;
}
} // namespace

X11Display::X11Display() : display_(XOpenDisplay(nullptr)) {
    guardDisplay(display_);
}

X11Display::~X11Display() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

unsigned long X11Display::root() const {
    return DefaultRootWindow(display_);
}

unsigned long X11Display::atom(const char* name) const {
    return XInternAtom(display_, name, False);
}

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    trappedError = false;
    previous_ = reinterpret_cast<void (*)()>(XSetErrorHandler(recordError));
}

X11ErrorTrap::~X11ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous_));
}

bool X11ErrorTrap::failed() {
    XSync(display_, False);
    return trappedError;
}

} // namespace vozmo
