#pragma once

#include "history.h"
#include "hud_mode.h"
#include "login_item.h"
#include "opener.h"
#include "prefs.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QUrl;

namespace vozmo {

// What the server supervisor reports; the application fills it in.
struct Readiness {
    bool whisperAvailable = false; // speech server executable and model file present
    bool whisperReady = false;
    bool llmAvailable = false; // language-model executable and model file present
    bool llmReady = false;
    // The last dictation was delivered unpolished: polishing it would have taken too long.
    bool polishTooSlow = false;
    // A faster polishing model than the current one is on offer.
    bool fasterPolishModel = false;
    std::string problem; // another program holds a server's port
};

// Everything the menu shows, gathered at the moment it opens.
struct StatusMenuInputs {
    Readiness servers;
    std::vector<HistoryEntry> history; // newest first
    bool polish = true;
    bool fastTranscription = true;
    bool sounds = true;
    std::string hotkey = Prefs::kHotkeyFn;
    std::string hotkeyName = "Fn";
    std::string language = "es";
    bool keyMonitorOk = true; // the X server offers what the key monitor needs
    bool pasteOk = true;      // the X server offers what pasting needs
    bool loginItemEnabled = false;
    // The last dictation failed (or was cancelled) and its recording can be sent again.
    bool canRetry = false;
    // The last dictation was pasted polished and can be put back as transcribed.
    bool canUndoPolish = false;
    // The layout's right Alt key is AltGr, so it cannot be the dictation key.
    bool rightAltIsAltGr = false;
};

enum class MenuAction {
    none,
    retryLast,
    undoPolish,
    pasteHistory,
    copyHistory,
    togglePolish,
    toggleFastTranscription,
    setFn,
    setROpt,
    chooseKey,
    setES,
    setAuto,
    toggleSounds,
    toggleLogin,
    showSetup,
    openDictionary,
    openKeyAndPasteHelp,
    openLogs,
    quit,
};

struct MenuItem {
    enum class Kind { item, separator, submenu };
    Kind kind = Kind::item;
    std::string title;
    bool enabled = true;
    bool checkable = false; // carries a check mark when `checked`
    bool checked = false;
    std::string shortcut; // key sequence text, e.g. "Ctrl+Q"
    std::string toolTip;
    MenuAction action = MenuAction::none;
    std::string payload; // pasteHistory, copyHistory: the full text
    std::vector<MenuItem> children;
};

// The menu, top to bottom, for one set of inputs.
std::vector<MenuItem> describeStatusMenu(const StatusMenuInputs& inputs);
std::string statusLine(const Readiness& servers);
// An entry on one line, cut to 60 user-perceived characters plus "…".
std::string historyTitle(std::string_view entry);

// The tray menu, rebuilt from scratch each time it opens. Main thread only.
class StatusMenu : public QObject {
    Q_OBJECT
public:
    explicit StatusMenu(std::unique_ptr<LoginItem> loginItem, QObject* parent = nullptr);
    ~StatusMenu() override;

    QMenu* menu() const { return menu_.get(); }

    // Sources the application provides; an empty one reads as the field's default.
    std::function<Readiness()> readiness;
    std::function<std::vector<HistoryEntry>()> history;
    std::function<bool()> keyMonitorOk;
    std::function<bool()> pasteOk;
    // The dictation key as the desktop names it, where the desktop assigns it ("F8"); the
    // preference's name when empty or "".
    std::function<std::string()> keyName;
    std::function<bool()> canRetry;
    std::function<bool()> canUndoPolish;
    std::function<bool()> rightAltIsAltGr;

    std::function<void(const HUDMode& mode, double seconds)> onFlash;
    std::function<void()> onShowSetup;
    std::function<void()> onRetry;
    std::function<void(const std::string& text)> onPasteAgain;
    std::function<void()> onUndoPolish;
    // "Tecla de dictado…": the window that waits for the new key.
    std::function<void()> onChooseKey;
    // Puts a history entry on the clipboard through the session's clipboard backend (on sway,
    // XWayland's clipboard would reach Wayland windows only while an X11 window has the
    // focus). Qt's clipboard when empty.
    std::function<void(const std::string& text)> onCopy;
    // Empty: the application quits through QCoreApplication::quit().
    std::function<void()> onQuit;
    // How files and folders are opened (tests); empty: opener(), which falls back from
    // xdg-open to other programs and finally shows the path.
    std::function<bool(const QUrl& url)> openUrl;
    Opener& opener() { return *opener_; }

    StatusMenuInputs inputs() const;
    // Empties the menu and fills it for this moment.
    void rebuild();
    // Carries out one item's action, as a click on it does.
    void perform(const MenuItem& item);

private:
    void fill(QMenu* menu, const std::vector<MenuItem>& items);
    void flash(const HUDMode& mode, double seconds);
    void toggleLogin();
    void open(const std::filesystem::path& path, Opener::Kind kind, const QString& what);

    std::unique_ptr<LoginItem> loginItem_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<Opener> opener_;
    std::vector<QPointer<QMenu>> submenus_;
};

} // namespace vozmo
