#pragma once

#include "app_environment.h"
#include "dictation_controller.h"
#include "speech_window.h"

#include <QObject>

#include <functional>
#include <memory>

class QTimer;

namespace vozmo {

class HUD;
class Hotkey;
class Recorder;
class Servers;

// The controller's parts on the desktop: the recorder, the key monitor, the supervised servers,
// the panel and the application's environment, seen through the controller's interfaces.
class DesktopRecorder final : public DictationRecorder {
public:
    DesktopRecorder(Recorder& recorder, const AppEnvironment& env);
    Outcome start() override;
    Recording stop() override;
    void copySince(std::size_t from, std::vector<float>& out) override;

private:
    Recorder& recorder_;
    const AppEnvironment& env_;
};

class DesktopKeys final : public KeySource {
public:
    explicit DesktopKeys(const Hotkey& hotkey) : hotkey_(hotkey) {}
    bool dictationKeyHeld() const override;
    std::optional<std::uint64_t> typedKeys() const override;

private:
    const Hotkey& hotkey_;
};

class ServerSpeech final : public SpeechClient {
public:
    explicit ServerSpeech(std::shared_ptr<Servers> servers) : servers_(std::move(servers)) {}
    bool available() const override;
    bool ready() const override;
    bool launched() const override;
    bool portBusy() const override;
    bool gaveUp() const override;
    Wait waitUntilReady(std::stop_token stop, std::chrono::milliseconds limit) override;
    Result<std::string> transcribe(std::span<const float> audio, const std::string& language,
                                   const std::string& prompt, bool fast,
                                   std::stop_token stop) override;

private:
    std::shared_ptr<Servers> servers_;
    SpeechPace pace_;
};

class ServerPolish final : public PolishClient {
public:
    explicit ServerPolish(std::shared_ptr<Servers> servers) : servers_(std::move(servers)) {}
    bool ready() const override;
    PolishPlan plan(std::string_view text, double limitSeconds) override;
    Result<std::string> polish(std::string_view text, const std::vector<std::string>& vocabulary,
                               std::stop_token stop) override;

private:
    std::shared_ptr<Servers> servers_;
};

class DesktopTypist final : public Typist {
public:
    explicit DesktopTypist(const AppEnvironment& env) : env_(env) {}
    bool trusted() override;
    bool needsLeadingSpace() override;
    Outcome paste(const std::string& text) override;
    void copy(const std::string& text) override;
    bool sendKey(const KeyStroke& stroke) override;
    void prepare() override;

private:
    const AppEnvironment& env_;
    bool trusted_ = false;
};

class DesktopTargets final : public TargetFinder {
public:
    explicit DesktopTargets(const AppEnvironment& env) : env_(env) {}
    std::optional<TargetApp> focused() override;
    TargetApp own() override;

private:
    const AppEnvironment& env_;
};

// The floating panel, made on first use; its window title says what it shows.
class PanelHud final : public HudSink {
public:
    explicit PanelHud(std::function<HUD&()> panel) : panel_(std::move(panel)) {}
    void show(const HUDMode& mode) override;
    void flash(const HUDMode& mode, double seconds) override;
    void hide(double seconds) override;

private:
    std::function<HUD&()> panel_;
};

// The steady clock, with its alarm on a Qt timer of the main thread.
class QtClock final : public QObject, public Clock {
    Q_OBJECT
public:
    QtClock();
    TimePoint now() const override;
    void setAlarm(std::chrono::milliseconds after, std::function<void()> action) override;
    void clearAlarm() override;

private:
    QTimer* timer_; // owned by this object
    std::function<void()> action_;
};

class QtMainQueue final : public MainQueue {
public:
    void post(std::function<void()> work) override;
};

} // namespace vozmo
