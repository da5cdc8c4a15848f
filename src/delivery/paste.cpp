#include "paste.h"

#include "log.h"

#include <QTimer>

#include <algorithm>
#include <cctype>

namespace vozmo {

const std::vector<std::string_view>& terminalClasses() {
    static const std::vector<std::string_view> classes = {
        "Gnome-terminal",
        "gnome-terminal-server",
        "org.gnome.Console",
        "kgx",
        "org.gnome.Ptyxis",
        "konsole",
        "Yakuake",
        "Xfce4-terminal",
        "Tilix",
        "Terminator",
        "kitty",
        "Alacritty",
        "org.wezfurlong.wezterm",
        "foot",
        "footclient",
        "XTerm",
        "UXTerm",
        "URxvt",
        "Rxvt",
        "Mate-terminal",
        "Lxterminal",
        "QTerminal",
        "Terminology",
        "Guake",
        "Tilda",
        "Sakura",
        "st-256color",
        "com.mitchellh.ghostty",
        "Cool-retro-term",
        "Eterm",
        // Native Wayland windows name themselves by app id, most often a reverse domain name.
        "org.gnome.Terminal",
        "org.kde.konsole",
        "org.kde.yakuake",
        "com.gexperts.Tilix",
        "xfce4-terminal",
        "org.xfce.Terminal",
        "wezterm",
        "com.raggesilver.BlackBox",
        "io.elementary.terminal",
        "org.codeberg.dnkl.foot",
        "org.contourterminal.Contour",
        "rio",
        "ghostty",
    };
    return classes;
}

bool isTerminal(std::string_view appId) {
    auto lower = [](std::string_view text) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return out;
    };
    std::string wanted = lower(appId);
    return !wanted.empty() && std::any_of(terminalClasses().begin(), terminalClasses().end(),
                                          [&](std::string_view c) { return lower(c) == wanted; });
}

KeyStroke pasteStroke(const std::optional<TargetApp>& target) {
    bool terminal = target && isTerminal(target->appId);
    return KeyStroke{"v", true, terminal};
}

std::string pasteKeysName(const std::optional<TargetApp>& target) {
    return pasteStroke(target).shift ? "Ctrl+Mayús+V" : "Ctrl+V";
}

Paster::Paster(Clipboard& clipboard, KeySynth& keys, TargetWindow& windows, QObject* parent)
    : QObject(parent), clipboard_(clipboard), keys_(keys), windows_(windows) {}

void Paster::prepare() {
    // While our earlier text is still out, the saved content is already the user's.
    if (!pending_) {
        clipboard_.prefetch();
    }
}

Outcome Paster::paste(const std::string& text) {
    Pending pending;
    // While an earlier call's text is still on the clipboard, the user's content is the one
    // that call saved: take it over, so the user gets it back rather than our earlier text.
    if (pending_ && clipboard_.changeCount() == pending_->mark) {
        pending.snapshot = pending_->snapshot;
    } else {
        pending.snapshot = std::make_shared<const ClipboardSnapshot>(clipboard_.snapshot());
    }
    clipboard_.setText(text);
    pending.mark = clipboard_.changeCount();
    clipboard_.strokeSending();
    if (!keys_.send(pasteStroke(windows_.focused()))) {
        log("No se pudo enviar la pulsación de pegar");
        // Putting the saved content back would leave the dictation nowhere.
        pending_.reset();
        return Error{Error::Kind::pasteFailed, "pulsación no enviada"};
    }
    pending.giveUpAt = std::chrono::steady_clock::now() + kRestoreLimit;
    pending_ = pending;
    restoreLater(std::move(pending), kRestoreDelay);
    return Done{};
}

void Paster::restoreLater(Pending pending, std::chrono::milliseconds after) {
    // Tied to this object: nothing runs once it is gone.
    QTimer::singleShot(after, this, [this, pending = std::move(pending)] {
        // A stroke the desktop refused after the fact pasted nothing: the text stays for the
        // user to paste by hand.
        if (keys_.lastStrokeFailed() && clipboard_.changeCount() == pending.mark) {
            log("La pulsación de pegar falló después de enviarse; el texto queda en el "
                "portapapeles");
            if (pending_ && pending_->mark == pending.mark) {
                pending_.reset();
            }
            return;
        }
        // Restored before the application asked, the user's content would be pasted in place of
        // the text, or nothing at all, and the dictation lost.
        if (!pending.snapshot->empty() && clipboard_.changeCount() == pending.mark &&
            !clipboard_.textRead() && std::chrono::steady_clock::now() < pending.giveUpAt) {
            restoreLater(pending, std::chrono::milliseconds(50));
            return;
        }
        if (pending_ && pending_->mark == pending.mark && pending_->snapshot == pending.snapshot) {
            pending_.reset();
        }
        if (clipboard_.changeCount() != pending.mark || pending.snapshot->empty()) {
            return;
        }
        clipboard_.restore(*pending.snapshot);
    });
}

} // namespace vozmo
