#pragma once

#include "app_environment.h"
#include "dictation_state.h"
#include "hud_mode.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QFileSystemWatcher;
class QTimer;

namespace vozmo {

class HUD;
class Hotkey;
class Notices;
class Recorder;
class Servers;
class Setup;
class SetupWindowHost;
class StatusIcon;
class StatusMenu;

// The tray application: owns the servers, the recorder, the key monitor, the setup and the
// panel, turns the dictation key into recordings and recordings into pasted text. Every
// member runs on the main thread; background runs talk back only by posting.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(AppEnvironment environment, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // Dictation controller.
    void keyDown();
    void keyUp();
    void otherKey();
    void cancel(bool silent);

    // Dictation pipeline.
    void finish();
    void fail(std::int64_t generation, const std::string& message);
    void deliver(const std::string& text, const std::optional<TargetApp>& target);
    void play(const std::string& name);

    // Lifecycle.
    void startServersIfPossible();
    void serversChanged();
    void showSetup();

    State state() const { return state_; }
    const std::vector<std::string>& history() const { return history_; }
    HUD& hud();

private:
    void startRecording();
    void recordingLost(unsigned session, const std::string& why);
    void watchServerFolders();
    void updateSetupServers();
    void updateIcon();
    void pollAccessibility();
    void show(const HUDMode& mode);
    void flash(const HUDMode& mode, double seconds);

    AppEnvironment env_;
    std::shared_ptr<Servers> servers_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<Hotkey> hotkey_;
    std::unique_ptr<HUD> hud_;
    std::unique_ptr<StatusMenu> menu_;
    std::unique_ptr<StatusIcon> icon_;
    State state_ = State::idle;
    bool locked_ = false;
    std::chrono::steady_clock::time_point downAt_;
    std::optional<TargetApp> target_;
    QTimer* maxTimer_ = nullptr; // owned by this object
    std::int64_t generation_ = 0;
    std::vector<std::string> history_;
    bool wasTrusted_ = false;
    bool announcedReady_ = false;
    std::unique_ptr<Setup> setup_;
    std::unique_ptr<SetupWindowHost> setupWindow_;
    std::unique_ptr<Notices> notices_;
    QFileSystemWatcher* folderWatch_ = nullptr; // owned by this object
    QTimer* accessibilityPoll_ = nullptr;       // owned by this object
    // Set while the setup window waits for the Fn key, which then starts no dictation.
    std::function<void()> fnWatcher_;
    // A paste lifts a dictation key that is still held and presses it again; that press is
    // ours, not the user's, and must not start a recording.
    std::optional<std::chrono::steady_clock::time_point> ignorePressUntil_;
    // The pipeline of the current dictation; stopped by Escape, a newer dictation and quit, and
    // joined before the next one starts and on destruction.
    std::jthread worker_;
};

} // namespace vozmo
