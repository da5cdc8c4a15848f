#pragma once

#include <string>

namespace vozmo::test {

// Direct XTEST strokes and keyboard-mapping changes on the test desktop, for what xdotool
// cannot do (it looks keys up by keysym). Kept apart so Xlib's macros stay out of the tests.
class XKeyboard {
public:
    XKeyboard();
    ~XKeyboard();
    XKeyboard(const XKeyboard&) = delete;
    XKeyboard& operator=(const XKeyboard&) = delete;

    bool connected() const { return display_ != nullptr; }
    // The keycode that produces the keysym, 0 when none does.
    unsigned keycodeOf(const std::string& keysym);
    // Makes `keycode` produce `keysym`.
    void map(unsigned keycode, const std::string& keysym);
    // Presses and releases `keycode`.
    void tap(unsigned keycode);
    // Turns the server's key repeat (the XKB RepeatKeys control) on or off.
    void setRepeat(bool on);

private:
    void* display_;
};

} // namespace vozmo::test
