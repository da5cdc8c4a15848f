#pragma once

// What the key monitor and the key capture share: their own X connection, read through
// XInput2 raw events on the root window. Internal to this folder.
#include <memory>
#include <string>

#include <X11/Xlib.h>

namespace vozmo::xi2 {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// XF86Fn, the keysym of the kernel's KEY_FN (evdev code 0x1d0); older headers lack it.
constexpr KeySym fnKeysym = 0x10081000 + 0x1d0;

// Why keys cannot be observed on `display`, or "" when they can; `opcode` gets XInput's.
std::string problemWith(Display* display, int* opcode);
// Whether the layout of `display` puts AltGr (ISO_Level3_Shift) on the right Alt key (XKB's
// RALT), as the Spanish one does.
bool rightAltIsAltGr(Display* display);
// The keycode's first keysym in the current mapping.
KeySym keysymOf(Display* display, int keycode);
// The keysym's name ("Control_R"), "" for none.
std::string nameOf(KeySym sym);
// Raw key and button presses and releases, whatever window has the focus.
void selectRawEvents(Display* display);

} // namespace vozmo::xi2
