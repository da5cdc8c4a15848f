#include "key_events.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include "display_loss.h"
#include "log.h"
#include "xi2.h"

namespace vozmo {
namespace xi2 {

std::string problemWith(Display* display, int* opcode) {
    if (display == nullptr) {
        return "no hay servidor X (DISPLAY no está disponible)";
    }
    int major = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XTEST", &major, &event, &error)) {
        return "el servidor X no ofrece XTEST";
    }
    if (!XQueryExtension(display, "XInputExtension", opcode, &event, &error)) {
        return "el servidor X no ofrece XInput2";
    }
    // Announcing 2.2 gets raw events delivered to the root window whatever has the focus.
    int wantedMajor = 2;
    int wantedMinor = 2;
    if (XIQueryVersion(display, &wantedMajor, &wantedMinor) != Success || wantedMajor < 2) {
        return "el servidor X no ofrece XInput 2.0 o posterior";
    }
    return {};
}

bool rightAltIsAltGr(Display* display) {
    if (display == nullptr) {
        return false;
    }
    XkbDescPtr xkb = XkbGetMap(display, 0, XkbUseCoreKbd);
    if (xkb == nullptr) {
        return false;
    }
    bool altGr = false;
    // The physical right Alt key is the one XKB names RALT, whatever it types.
    if (XkbGetNames(display, XkbKeyNamesMask, xkb) == Success && xkb->names != nullptr &&
        xkb->names->keys != nullptr) {
        for (int code = xkb->min_key_code; code <= xkb->max_key_code; ++code) {
            if (std::string_view(xkb->names->keys[code].name,
                                 strnlen(xkb->names->keys[code].name, XkbKeyNameLength)) ==
                "RALT") {
                altGr = XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), 0, 0) ==
                        XK_ISO_Level3_Shift;
                break;
            }
        }
        XkbFreeNames(xkb, XkbKeyNamesMask, True);
    }
    XkbFreeKeyboard(xkb, 0, True);
    return altGr;
}

KeySym keysymOf(Display* display, int keycode) {
    int perKeycode = 0;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(keycode), 1, &perKeycode);
    KeySym sym = NoSymbol;
    for (int i = 0; syms != nullptr && i < perKeycode && sym == NoSymbol; ++i) {
        sym = syms[i];
    }
    if (syms != nullptr) {
        XFree(syms);
    }
    return sym;
}

std::string nameOf(KeySym sym) {
    const char* name = sym == NoSymbol ? nullptr : XKeysymToString(sym);
    return name != nullptr ? name : "";
}

void selectRawEvents(Display* display) {
    XIEventMask mask{};
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof(bits);
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
}

} // namespace xi2

namespace {

using xi2::DisplayPtr;
using xi2::fnKeysym;
using xi2::nameOf;
using xi2::problemWith;
using xi2::rightAltIsAltGr;

// `altGrLayout`: the layout's right Alt key is AltGr (ISO_Level3_Shift), which types @ # € [ ]
// on layouts such as the Spanish one; a dictation key there would start a recording at every @,
// so ISO_Level3_Shift is then an ordinary modifier.
Key keyFor(KeySym sym, bool altGrLayout) {
    switch (sym) {
    case XK_Escape:
        return Key::escape;
    case XK_Alt_R:
        return Key::rightAlt;
    case XK_ISO_Level3_Shift:
        return altGrLayout ? Key::modifier : Key::rightAlt;
    case XF86XK_WakeUp:
    case fnKeysym:
        return Key::fn;
    default:
        return IsModifierKey(sym) ? Key::modifier : Key::other;
    }
}

constexpr int kFirstSideButton = 8;

bool isModifier(Key key) {
    return key == Key::rightAlt || key == Key::fn || key == Key::modifier;
}

// Raw events carry what the keyboard did: no auto-repeat (the server makes that later, for the
// focused window only), and from XTEST also releases of keys that are not down. Both are
// turned here into what the focused window sees: duplicates are dropped, and a held key that
// repeats is repeated with the server's own delay, interval and per-key settings.
class XInputKeyEvents final : public KeyEvents {
public:
    ~XInputKeyEvents() override { *alive_ = false; }

    bool start(Handler handler) override {
        display_.reset(XOpenDisplay(nullptr));
        guardDisplay(display_.get());
        const std::string problem = problemWith(display_.get(), &opcode_);
        if (!problem.empty()) {
            log("Monitor de teclas no disponible: " + problem);
            display_.reset();
            return false;
        }
        handler_ = std::move(handler);
        XDisplayKeycodes(display_.get(), &minKeycode_, &maxKeycode_);
        altGrLayout_ = rightAltIsAltGr(display_.get());

        xi2::selectRawEvents(display_.get());
        int xkbOpcode = 0;
        int xkbError = 0;
        int xkbMajor = XkbMajorVersion;
        int xkbMinor = XkbMinorVersion;
        if (XkbQueryExtension(display_.get(), &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor,
                              &xkbMinor)) {
            const unsigned long changes = XkbControlsNotifyMask | XkbMapNotifyMask;
            XkbSelectEvents(display_.get(), XkbUseCoreKbd, changes, changes);
            readRepeatSettings();
        }
        XFlush(display_.get());

        repeatTimer_.setSingleShot(true);
        QObject::connect(&repeatTimer_, &QTimer::timeout, &repeatTimer_, [this] {
            repeatTimer_.start(repeatInterval_);
            const Handler handler = handler_;
            handler(repeatingKey_);
        });

        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_.get()),
                                                      QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readEvents(); });
        // Events Xlib already queued while setting up would not make the socket readable.
        readEvents();
        return true;
    }

    bool seesTyping() const override { return true; }

private:
    void readEvents() {
        const std::shared_ptr<bool> alive = alive_;
        Display* display = display_.get();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MappingNotify) {
                keysyms_.clear();
                altGrLayout_ = rightAltIsAltGr(display);
                continue;
            }
            if (xkbEventBase_ != 0 && event.type == xkbEventBase_) {
                const auto& xkb = reinterpret_cast<const XkbAnyEvent&>(event);
                if (xkb.xkb_type == XkbMapNotify) {
                    keysyms_.clear();
                    altGrLayout_ = rightAltIsAltGr(display);
                } else if (xkb.xkb_type == XkbControlsNotify) {
                    readRepeatSettings();
                }
                continue;
            }
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != opcode_ ||
                !XGetEventData(display, cookie)) {
                continue;
            }
            std::optional<KeyEvent> keyEvent;
            if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                keyEvent = track(raw->detail, cookie->evtype == XI_RawKeyPress);
            } else if (cookie->evtype == XI_RawButtonPress ||
                       cookie->evtype == XI_RawButtonRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                keyEvent = trackButton(raw->detail, cookie->evtype == XI_RawButtonPress);
            }
            XFreeEventData(display, cookie);
            if (keyEvent && handler_) {
                // The handler may end this monitor (a reinstall); stop reading then.
                const Handler handler = handler_;
                handler(*keyEvent);
                if (!*alive) {
                    return;
                }
            }
        }
    }

    // The event the focused window would see for a raw press or release, if any.
    std::optional<KeyEvent> track(int keycode, bool pressed) {
        if (keycode < 0 || keycode >= static_cast<int>(down_.size())) {
            return std::nullopt;
        }
        const KeySym sym = keysymOf(keycode);
        const Key key = keyFor(sym, altGrLayout_);
        const std::string name = nameOf(sym);
        const bool wasDown = down_.test(static_cast<std::size_t>(keycode));
        if (!pressed) {
            if (!wasDown) {
                return std::nullopt;
            }
            down_.reset(static_cast<std::size_t>(keycode));
            if (keycode == repeatingKeycode_) {
                repeatTimer_.stop();
                repeatingKeycode_ = -1;
            }
            return KeyEvent{key, false, name};
        }
        down_.set(static_cast<std::size_t>(keycode));
        if (wasDown && isModifier(key)) {
            return std::nullopt;
        }
        // The server repeats the last repeating key pressed. Modifiers (and the dictation
        // keys, which act as modifiers) report changes only, never repeats.
        if (!wasDown && !isModifier(key) && repeats(keycode)) {
            repeatingKeycode_ = keycode;
            repeatingKey_ = KeyEvent{key, true, name};
            repeatTimer_.start(repeatDelay_);
        }
        return KeyEvent{key, true, name};
    }

    // Side buttons only: the first seven are clicks and the wheel's steps.
    std::optional<KeyEvent> trackButton(int button, bool pressed) {
        if (button < kFirstSideButton || button >= static_cast<int>(buttonsDown_.size())) {
            return std::nullopt;
        }
        const auto index = static_cast<std::size_t>(button);
        if (buttonsDown_.test(index) == pressed) {
            return std::nullopt;
        }
        buttonsDown_.set(index, pressed);
        return KeyEvent{Key::button, pressed, "Button" + std::to_string(button)};
    }

    bool repeats(int keycode) const {
        return repeatEnabled_ && perKeyRepeat_.test(static_cast<std::size_t>(keycode));
    }

    void readRepeatSettings() {
        XkbDescPtr xkb = XkbGetMap(display_.get(), 0, XkbUseCoreKbd);
        if (xkb == nullptr) {
            return;
        }
        if (XkbGetControls(display_.get(), XkbAllControlsMask, xkb) == Success &&
            xkb->ctrls != nullptr) {
            const XkbControlsRec& controls = *xkb->ctrls;
            repeatEnabled_ = (controls.enabled_ctrls & XkbRepeatKeysMask) != 0;
            repeatDelay_ = controls.repeat_delay;
            repeatInterval_ = std::max<int>(controls.repeat_interval, 1);
            for (std::size_t code = 0; code < perKeyRepeat_.size(); ++code) {
                perKeyRepeat_.set(code, (controls.per_key_repeat[code / 8] >> (code % 8)) & 1);
            }
        }
        XkbFreeKeyboard(xkb, 0, True);
        if (!repeatEnabled_) {
            repeatTimer_.stop();
            repeatingKeycode_ = -1;
        }
    }

    // The keycode's first keysym, cached until the keyboard mapping changes.
    KeySym keysymOf(int keycode) {
        if (keycode < minKeycode_ || keycode > maxKeycode_) {
            return NoSymbol;
        }
        if (auto found = keysyms_.find(keycode); found != keysyms_.end()) {
            return found->second;
        }
        const KeySym sym = xi2::keysymOf(display_.get(), keycode);
        keysyms_[keycode] = sym;
        return sym;
    }

    DisplayPtr display_;
    int opcode_ = 0;
    int minKeycode_ = 0;
    int maxKeycode_ = 0;
    Handler handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unordered_map<int, KeySym> keysyms_;
    int xkbEventBase_ = 0;
    bool altGrLayout_ = false;
    std::bitset<256> down_;
    bool repeatEnabled_ = false;
    int repeatDelay_ = 660;
    int repeatInterval_ = 40;
    std::bitset<256> perKeyRepeat_;
    int repeatingKeycode_ = -1;
    KeyEvent repeatingKey_;
    std::bitset<32> buttonsDown_;
    QTimer repeatTimer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace

std::unique_ptr<KeyEvents> makeKeyEvents() {
    return std::make_unique<XInputKeyEvents>();
}

bool rightAltIsAltGr() {
    const DisplayPtr display(XOpenDisplay(nullptr));
    guardDisplay(display.get());
    return rightAltIsAltGr(display.get());
}

std::string keyMonitorProblem() {
    const DisplayPtr display(XOpenDisplay(nullptr));
    guardDisplay(display.get());
    int opcode = 0;
    return problemWith(display.get(), &opcode);
}

bool keyMonitorAvailable() {
    return keyMonitorProblem().empty();
}

} // namespace vozmo
