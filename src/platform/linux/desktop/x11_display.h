#pragma once

// Xlib's own header stays out of headers: its macros (None, Bool, Status) break Qt's.
struct _XDisplay;

namespace vozmo {

// An Xlib connection of our own to $DISPLAY, separate from Qt's, so that our requests and
// events never interleave with the toolkit's. Closed on destruction.
class X11Display {
public:
    X11Display();
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    _XDisplay* get() const { return display_; }
    explicit operator bool() const { return display_ != nullptr; }
    unsigned long root() const;
    unsigned long atom(const char* name) const;

private:
    _XDisplay* display_ = nullptr;
};

// While alive, X protocol errors (a window that vanished under us, say) are recorded instead of
// ending the process, which is Xlib's default. Main thread only.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to process everything sent so far; true when an error came back.
    bool failed();

private:
    _XDisplay* display_;
    void (*previous_)(); // Xlib's XErrorHandler, whose types this header cannot name
};

} // namespace vozmo
