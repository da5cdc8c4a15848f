#include "paste.h"

#include "log.h"

#include "wayland_backends.h"

#include <QCoreApplication>
#include <QGuiApplication>
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

namespace {

// The desktop's clipboard, keyboard and window lookup with their Paster, as one child of the
// application object.
class DesktopPaster : public QObject {
    Q_OBJECT
public:
    explicit DesktopPaster(QObject* parent, const DesktopBackends& backends)
        : QObject(parent), clipboard_(makeClipboard(backends)), keys_(makeKeySynth(backends)),
          windows_(makeTargetWindow(backends)), paster_(*clipboard_, *keys_, *windows_) {
        setObjectName(QStringLiteral("vozmo-desktop-paster"));
    }
    Paster& paster() { return paster_; }
    Clipboard& clipboard() { return *clipboard_; }

private:
    std::unique_ptr<Clipboard> clipboard_;
    std::unique_ptr<KeySynth> keys_;
    std::unique_ptr<TargetWindow> windows_;
    Paster paster_;
};

// The clipboard belongs to a GUI application; the headless self-test has none.
DesktopPaster* desktopPaster() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return nullptr;
    }
    auto* desktop = app->findChild<DesktopPaster*>(QStringLiteral("vozmo-desktop-paster"),
                                                   Qt::FindDirectChildrenOnly);
    if (desktop == nullptr) {
        // The clipboard, the stroke and the window lookup the session offers, chosen once.
        desktop = new DesktopPaster(app, chooseDesktopBackends(currentSession(), false));
    }
    return desktop;
}

} // namespace

Outcome paste(const std::string& text) {
    DesktopPaster* desktop = desktopPaster();
    if (desktop == nullptr) {
        return Error{Error::Kind::pasteFailed, "sin aplicación gráfica"};
    }
    return desktop->paster().paste(text);
}

void copyToClipboard(const std::string& text) {
    if (DesktopPaster* desktop = desktopPaster()) {
        desktop->clipboard().setText(text);
    }
}

} // namespace vozmo

#include "paste.moc"
