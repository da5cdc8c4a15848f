#include "key_events.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QObject>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include "display_loss.h"
#include "key_names.h"
#include "log.h"
#include "xi2.h"

namespace vozmo {
namespace {

constexpr int kFirstSideButton = 8;
constexpr std::size_t kMostParts = 4;

// Keys whose press alone puts or removes text in the focused window: characters (letters,
// digits, punctuation, dead accents, the keypad's), space, Enter, Tab and the erasing keys.
bool typesText(KeySym sym) {
    if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff)) {
        return true; // Latin-1
    }
    if (sym >= 0x100 && sym < 0xfe00) {
        return true; // the older character sets (Cyrillic, Greek, Hebrew...)
    }
    if (sym >= XK_dead_grave && sym <= 0xfe8f) {
        return true; // dead keys
    }
    if ((sym & 0xff000000UL) == 0x01000000UL) {
        return true; // any Unicode character
    }
    if ((sym >= XK_KP_Space && sym <= XK_KP_9) || sym == XK_KP_Equal) {
        return true; // KP_Enter, the keypad's digits and operators
    }
    switch (sym) {
    case XK_Return:
    case XK_Linefeed:
    case XK_Tab:
    case XK_ISO_Left_Tab:
    case XK_BackSpace:
    case XK_Delete:
        return true;
    default:
        return false;
    }
}

bool isModifierSym(KeySym sym) {
    return IsModifierKey(sym) || sym == XK_ISO_Level3_Shift;
}

// Why this key cannot be the dictation key (alone when `alone`), or "".
std::string refusalFor(KeySym sym, bool alone, bool altGrLayout) {
    const std::string name = xi2::nameOf(sym);
    if (name.empty()) {
        return "Esa tecla no tiene nombre en tu distribución de teclado: elige otra.";
    }
    if (sym == XK_Escape) {
        return "Escape cancela el dictado: elige otra tecla.";
    }
    if ((sym == XK_ISO_Level3_Shift || sym == XK_Mode_switch) && altGrLayout) {
        return "En tu distribución de teclado esa tecla es AltGr (con ella escribes @ # €): "
               "no puede ser la tecla de dictado.";
    }
    if (typesText(sym)) {
        const std::string shown =
            sym == XK_space ? "Espacio" : (sym == XK_Return ? "Intro" : keyDisplayName(name));
        return "«" + shown +
               "» escribe texto: elige una tecla que no escriba nada, como Ctrl derecha, Pausa, "
               "Menú o F13.";
    }
    if (sym == XK_Caps_Lock || sym == XK_Shift_Lock) {
        return "Bloq Mayús cambia lo que escribes: elige otra tecla.";
    }
    if (alone && (sym == XK_Shift_L || sym == XK_Shift_R)) {
        return "Mayús sirve para escribir mayúsculas: combínala con otra tecla o elige otra.";
    }
    return {};
}

// One gesture: keys and side buttons pressed while at least one of them is down; done when all
// are let go. What was down before the capture began is not part of it.
class XInputKeyCapture final : public KeyCapture {
public:
    ~XInputKeyCapture() override { *alive_ = false; }

    bool start(std::function<void(const CapturedKey&)> done) override {
        display_.reset(XOpenDisplay(nullptr));
        guardDisplay(display_.get());
        const std::string problem = xi2::problemWith(display_.get(), &opcode_);
        if (!problem.empty()) {
            log("Captura de tecla no disponible: " + problem);
            display_.reset();
            return false;
        }
        done_ = std::move(done);
        xi2::selectRawEvents(display_.get());
        // A round trip: the key pressed right after "Pulsa la tecla" is seen.
        XSync(display_.get(), False);
        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_.get()),
                                                      QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readEvents(); });
        readEvents();
        return true;
    }

private:
    struct Part {
        std::string name;
        KeySym sym = NoSymbol; // NoSymbol for a button
        int code = 0;          // keycode, or button number
        bool button = false;
    };

    void readEvents() {
        const std::shared_ptr<bool> alive = alive_;
        Display* display = display_.get();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != opcode_ ||
                !XGetEventData(display, cookie)) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const int detail = raw->detail;
            const int type = cookie->evtype;
            XFreeEventData(display, cookie);
            if (type == XI_RawKeyPress || type == XI_RawKeyRelease) {
                handle(detail, false, type == XI_RawKeyPress);
            } else if ((type == XI_RawButtonPress || type == XI_RawButtonRelease) &&
                       detail >= kFirstSideButton) {
                handle(detail, true, type == XI_RawButtonPress);
            }
            if (!*alive) {
                return;
            }
        }
    }

    void handle(int code, bool button, bool pressed) {
        const auto same = [&](const Part& part) {
            return part.code == code && part.button == button;
        };
        const bool held = std::any_of(held_.begin(), held_.end(), same);
        if (pressed) {
            if (held) {
                return;
            }
            Part part;
            part.code = code;
            part.button = button;
            if (button) {
                part.name = "Button" + std::to_string(code);
            } else {
                part.sym = xi2::keysymOf(display_.get(), code);
                part.name = xi2::nameOf(part.sym);
            }
            held_.push_back(part);
            if (std::none_of(gesture_.begin(), gesture_.end(), same)) {
                gesture_.push_back(part);
            }
            return;
        }
        if (!held) {
            return; // down before the capture began
        }
        held_.erase(std::remove_if(held_.begin(), held_.end(), same), held_.end());
        if (held_.empty()) {
            finish();
        }
    }

    void finish() {
        std::vector<Part> parts = std::move(gesture_);
        gesture_.clear();
        // Modifiers first, as a combination is written.
        std::stable_partition(parts.begin(), parts.end(), [](const Part& part) {
            return !part.button && isModifierSym(part.sym);
        });
        CapturedKey captured;
        const bool altGrLayout = xi2::rightAltIsAltGr(display_.get());
        for (const Part& part : parts) {
            captured.parts.push_back(part.name);
            if (captured.refusal.empty() && !part.button) {
                captured.refusal = refusalFor(part.sym, parts.size() == 1, altGrLayout);
            }
        }
        if (captured.refusal.empty() && parts.size() > kMostParts) {
            captured.refusal = "Son demasiadas teclas a la vez: usa como mucho cuatro.";
        }
        if (captured.refusal.empty() && parts.size() == 1 &&
            (parts[0].sym == XK_ISO_Level3_Shift)) {
            // Not AltGr on this layout: the right Alt key, as the menu names it.
            captured.parts = {"Alt_R"};
        }
        const auto done = done_;
        done(captured);
    }

    xi2::DisplayPtr display_;
    int opcode_ = 0;
    std::function<void(const CapturedKey&)> done_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<Part> held_;
    std::vector<Part> gesture_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace

std::unique_ptr<KeyCapture> makeKeyCapture() {
    return std::make_unique<XInputKeyCapture>();
}

} // namespace vozmo
