#pragma once

#include "downloader.h"
#include "model_catalog.h"
#include "setup_environment.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozmo {

// Whether the user's keyboard was seen sending Fn ("fnSeen" in the preferences).
bool fnConfigured();

// The state behind the first-run window: the four steps, their actions, and the news that the
// models have just arrived. Lives on the main thread for the whole run; every change of a
// field emits changed(), so the window simply re-reads everything.
class Setup : public QObject {
    Q_OBJECT
public:
    // How the check of the Fn key stands.
    enum class FnCheck { Idle, Watching, NotSeen };

    explicit Setup(SetupEnvironment environment, std::unique_ptr<Downloader> downloader = nullptr,
                   QObject* parent = nullptr);
    ~Setup() override;

    bool modelsOK() const { return modelsOK_; }
    bool downloading() const { return downloading_; }
    double progress() const { return progress_; }
    const std::string& progressText() const { return progressText_; }
    bool downloadFailed() const { return downloadFailed_; }
    // Why the last download failed when it is more than the connection ("El archivo descargado
    // no es el esperado"); empty otherwise.
    const std::string& downloadProblem() const { return downloadProblem_; }
    // A sentence on the model files in place that are not the catalogue's (copied in by hand,
    // kept and used); empty when there are none.
    std::string modelWarning() const;
    bool micOK() const { return micOK_; }
    bool axOK() const { return axOK_; }
    // What the X server lacks for the key access ("X11", "XTEST", "XInput2"); empty when fine
    // or when the desktop cannot tell.
    const std::vector<std::string>& missingKeyAccess() const { return missingKeyAccess_; }
    // On Wayland the key access is a key backend and a typing backend that work; while they do
    // not, what the user does about it on this desktop.
    bool keyAndPasteRow() const { return static_cast<bool>(env_.keyAndPasteInstructions); }
    const std::vector<std::string>& keyAndPasteInstructions() const {
        return keyAndPasteInstructions_;
    }
    // No sound server answers at all (so there is no microphone to choose either).
    bool soundServerMissing() const { return soundServerMissing_; }
    bool fnOK() const { return fnOK_; }
    // The server programs; without whisper-server nothing can be transcribed, without
    // llama-server dictation works unpolished.
    bool whisperServerFound() const { return whisperServerFound_; }
    bool llmServerFound() const { return llmServerFound_; }
    FnCheck fnCheck() const { return fnCheck_; }
    // Whole seconds the running Fn check still waits; 0 when none runs.
    int fnSecondsLeft() const { return fnSecondsLeft_; }
    // Why the servers cannot be used although they are installed (another program holds their
    // port), or empty.
    const std::string& serverProblem() const { return serverProblem_; }
    void setServerProblem(const std::string& problem);
    // The last "Permitir" found no sound settings program to open.
    bool soundSettingsMissing() const { return soundSettingsMissing_; }

    // Models, speech server program, microphone and key access; the Fn step is recommended only.
    bool ready() const { return modelsOK_ && whisperServerFound_ && micOK_ && axOK_; }

    // Re-reads the microphone, key access and the server programs (also every second while
    // checking is on, as it is from the start).
    void refresh();
    // Turns the checks every second on (with one at once) or off: each asks PulseAudio and the X
    // server, which is wasted while nobody looks at the answers.
    void setChecking(bool on);
    // Fetches the missing model files.
    void download();
    // Opens the desktop's sound settings and re-reads the microphone.
    void requestMic();
    // Shows the help on permissions when the X server lacks XTEST or XInput2.
    void openKeyAndPasteHelp();
    // Watches for the Fn key for fnWatchSeconds; once seen, the step is done for good.
    void configureFn();
    // Stops a running Fn check; the step goes back to how it was before.
    void cancelFnCheck();
    // Dictates with the right Alt key from now on; the Fn step is then not needed.
    void useRightAlt();
    // Opens the window in which the user presses the key they want.
    void chooseKey();
    bool canChooseKey() const { return static_cast<bool>(env_.chooseKey); }
    bool rightAltIsAltGr() const { return env_.rightAltIsAltGr && env_.rightAltIsAltGr(); }
    // Shows where to put whisper-server and llama-server.
    void openServersHelp();
    // Shows the model files' names, addresses and folder.
    void openModelsHelp();
    // Shows how to get a sound server and a microphone.
    void openMicrophoneHelp();

    // The chosen version of each model, and what this machine would get by default.
    ModelTier modelTier(ModelRole role) const;
    ModelTier recommendedTier() const { return defaultTier(facts_); }
    const MachineFacts& machine() const { return facts_; }
    // Remembers the choice and fetches the chosen file when it is not in place yet; the old
    // file serves until the new one has arrived whole.
    void chooseModel(ModelRole role, ModelTier tier);

    // How long "Configurar" waits for the Fn key.
    double fnWatchSeconds = 8.0;

    // After a download run that ended with every model file present (main thread).
    std::function<void()> onModelsReady;

signals:
    void changed();

private:
    template <typename T> void assign(T& field, const T& value);
    void fnSeen();
    void stopWatchingFn();
    int micStatus() const;
    bool keyAccessOk() const;
    bool programFound(const std::string& name) const;
    // Watches the folders of the model files once they exist.
    void watchModelsFolder();
    void checkCopiedModels();
    // Reads the model files in place whose hash was never taken, without fetching anything.
    void checkModels();
    void readKeyAccess();
    void readSoundServer();

    SetupEnvironment env_;
    MachineFacts facts_;
    bool modelsOK_ = false;
    bool downloading_ = false;
    double progress_ = 0;
    std::string progressText_;
    bool downloadFailed_ = false;
    std::string downloadProblem_;
    bool micOK_ = false;
    bool axOK_ = false;
    std::vector<std::string> missingKeyAccess_;
    std::vector<std::string> keyAndPasteInstructions_;
    bool soundServerMissing_ = false;
    bool fnOK_ = false;
    // The dictation key as last read: a key chosen elsewhere changes what the window shows.
    std::string hotkey_;
    bool whisperServerFound_ = false;
    bool llmServerFound_ = false;
    FnCheck fnCheck_ = FnCheck::Idle;
    int fnSecondsLeft_ = 0;
    QTimer fnCountdown_;
    bool soundSettingsMissing_ = false;
    std::string serverProblem_;
    int fnWatch_ = 0; // numbers each watch, so a stale timeout does nothing
    std::unique_ptr<Downloader> downloader_;
    QTimer timer_;
    // Model files copied in by hand: the folder is watched, and a file counts once its size has
    // held still for a moment (a copy in progress is not a model yet).
    QFileSystemWatcher modelsWatcher_;
    QTimer modelsSettle_;
    std::vector<std::int64_t> lastModelSizes_;
};

} // namespace vozmo
