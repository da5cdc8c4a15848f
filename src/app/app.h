#pragma once

#include "app_environment.h"
#include "dictation_controller.h"
#include "dictation_state.h"
#include "hud_mode.h"
#include "status_menu.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class QFileSystemWatcher;

namespace vozmo {

class DesktopKeys;
class DesktopRecorder;
class DesktopTargets;
class DesktopTypist;
class HUD;
class Hotkey;
class KeyChooser;
class PanelHud;
class QtClock;
class QtMainQueue;
class ServerPolish;
class ServerSpeech;
class Notices;
class Recorder;
class Servers;
class Setup;
class SetupWindowHost;
class StatusIcon;
class StatusMenu;

// The tray application: owns the servers, the recorder, the key monitor, the setup and the
// panel, and wires them to the dictation controller. Every member runs on the main thread.
class App : public QObject, private DictationShell {
    Q_OBJECT
public:
    explicit App(AppEnvironment environment, QObject* parent = nullptr);
    // Calls shutdown() if it has not run.
    ~App() override;

    void start();
    // Stops the dictation in flight and the servers, and waits for both.
    void shutdown();

    // The dictation key and Escape, as the key monitor (or another way in) reports them.
    void keyDown();
    void keyUp();
    void otherKey();
    void cancel(bool silent);

    // Lifecycle.
    void startServersIfPossible();
    void serversChanged();
    void showSetup() override;

    State state() const { return controller_->state(); }
    std::vector<std::string> history() const { return controller_->history(); }
    HUD& hud();

    // "Tecla de dictado…": the window that waits for the new key, or says how the desktop
    // assigns it.
    void chooseKey();
    KeyChooser* keyChooser() const { return keyChooser_.get(); }
    // The history's actions, as the menu runs them.
    void pasteAgain(const std::string& text);
    void undoPolish();

private:
    // DictationShell
    void stateChanged(State state) override;
    void leftOnClipboard(const std::string& keys, LeftReason why) override;

    void watchServerFolders();
    void updateSetupServers();
    void updateIcon();
    void noticeKeyAccess();
    void desktopChanged();
    // What the servers report, for the icon and the menu.
    Readiness readiness() const;
    // The dictation key as the user presses it: the desktop's name for it, or the preference's.
    std::string keyName() const;
    void flash(const HUDMode& mode, double seconds);

    AppEnvironment env_;
    std::shared_ptr<Servers> servers_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<Hotkey> hotkey_;
    std::unique_ptr<KeyChooser> keyChooser_; // calls into hotkey_: goes before it
    std::unique_ptr<HUD> hud_;
    std::unique_ptr<StatusMenu> menu_;
    std::unique_ptr<StatusIcon> icon_;
    bool wasTrusted_ = false;
    bool announcedReady_ = false;
    bool shutDown_ = false;
    std::unique_ptr<Setup> setup_;
    std::unique_ptr<SetupWindowHost> setupWindow_;
    std::unique_ptr<Notices> notices_;
    QFileSystemWatcher* folderWatch_ = nullptr; // owned by this object
    // The controller's parts, then the controller: it goes first, joining its worker while
    // everything the worker uses is still there.
    std::unique_ptr<DesktopRecorder> recorderPart_;
    std::unique_ptr<DesktopKeys> keysPart_;
    std::unique_ptr<ServerSpeech> speechPart_;
    std::unique_ptr<ServerPolish> polishPart_;
    std::unique_ptr<DesktopTypist> typistPart_;
    std::unique_ptr<DesktopTargets> targetsPart_;
    std::unique_ptr<PanelHud> hudPart_;
    std::unique_ptr<QtClock> clockPart_;
    std::unique_ptr<QtMainQueue> mainPart_;
    std::unique_ptr<DictationController> controller_;
};

} // namespace vozmo
