#pragma once

// The whole application as a user meets it: `vozmo` started with no arguments in a private
// account, the stand-in servers on the fixed ports, a GTK text window to type into, real keys on
// the X server and real sound through PulseAudio. Shared by the end-to-end tests and the
// application benchmark.

#include "standin.h"
#include "wait.h"

#include <nlohmann/json.hpp>

#include <QProcess>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vozmo::test {

using namespace std::chrono_literals;

// CLOCK_MONOTONIC in seconds: the clock of the target window's timestamps.
double monotonicSeconds();

// Runs a program (argument vector, no shell) to its end; its exit status, or -1 when it did not
// exit normally within `limit` (it is stopped by pid then).
int runProgram(std::vector<std::string> argv, std::chrono::milliseconds limit = 30s);
// The full path of a program found on PATH (ChildProcess does not search).
std::string programPath(const std::string& name);
// The program's standard output, or absent when it failed.
std::optional<std::string> programOutput(const std::vector<std::string>& argv,
                                         std::chrono::milliseconds limit = 10s);

// A private account for one run of the application: HOME, the XDG folders, a 0700 runtime folder
// (where the single-instance socket lives), the preferences, sparse model files and a
// dictionary. Removed on destruction.
class AppHome {
public:
    struct Options {
        std::string language = "es";
        bool polish = true;
        std::string dictionary = "guasap => WhatsApp\n";
        bool sounds = false;
    };
    explicit AppHome(const Options& options);
    AppHome() : AppHome(Options{}) {}
    ~AppHome();
    AppHome(const AppHome&) = delete;
    AppHome& operator=(const AppHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path support() const { return root_ / "data" / "Vozmo"; }
    std::filesystem::path logFile() const { return support() / "logs" / "app.log"; }
    std::filesystem::path prefsFile() const { return root_ / "config" / "Vozmo" / "prefs.json"; }
    // HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR.
    std::map<std::string, std::string> environment() const;

private:
    std::filesystem::path root_;
};

// Our own connection to the X server, safe to share between threads: window titles and map
// states, the active window, and XTEST key strokes (which reach XInput2 monitors as real keys).
class Desk {
public:
    struct Window {
        unsigned long id = 0;
        std::string title; // _NET_WM_NAME, else WM_NAME
        bool viewable = false;
    };

    Desk();
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    bool connected() const { return display_ != nullptr; }
    // Every window in the tree whose _NET_WM_PID is `pid`.
    std::vector<Window> windowsOf(pid_t pid);
    // The process behind _NET_ACTIVE_WINDOW, or absent.
    std::optional<pid_t> activePid();
    // XTEST press or release of the key that produces `keysym`; false when no key does.
    bool key(const std::string& keysym, bool down);
    bool tap(const std::string& keysym) { return key(keysym, true) && key(keysym, false); }

private:
    std::mutex lock_;
    void* display_;
};

// Keysym of the dictation key with the preference "ropt": right Alt as Xvfb maps it.
inline const std::string kDictationKey = "ISO_Level3_Shift";

// Watches the windows of one process every 30 ms on its own thread and keeps every change of
// title or map state: the heads-up panel names what it shows in its title.
class HudWatch {
public:
    struct Sight {
        double time = 0; // monotonicSeconds()
        unsigned long window = 0;
        std::string title;
        bool viewable = false;
    };

    HudWatch(Desk& desk, pid_t pid);
    ~HudWatch();
    HudWatch(const HudWatch&) = delete;
    HudWatch& operator=(const HudWatch&) = delete;

    // A position in the history; `sawSince` looks only at what came after it.
    std::size_t mark();
    // A window of the process showed `title` while viewable after `from`.
    bool sawSince(const std::string& title, std::size_t from);
    // When (monotonicSeconds) it was first seen after `from`.
    std::optional<double> firstSeen(const std::string& title, std::size_t from);
    bool waitFor(const std::string& title, std::size_t from, std::chrono::milliseconds limit = 20s);
    // The titles shown (viewable) after `from`, consecutive repeats folded: for messages.
    std::string shownSince(std::size_t from);
    // A window of the process other than the setup window is viewable now.
    bool panelVisible();
    // Viewable windows titled exactly `title` now.
    int viewableTitled(const std::string& title);

private:
    void poll();

    Desk& desk_;
    pid_t pid_;
    std::mutex lock_;
    std::vector<Sight> history_;
    std::map<unsigned long, Desk::Window> current_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The GTK text window of tests/delivery/target_window.py, with key timestamps on.
class Target {
public:
    Target(Desk& desk, const std::string& wmClass = "VozmoTarget");
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // The window said "ready" (it has the focus) and is the desktop's active window.
    bool ready() const { return ready_; }
    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }
    std::optional<std::string> text();
    // Replaces the whole text (ASCII: the caret goes to its end).
    bool setText(const std::string& text);
    // Every "key <keysym> <mods> <time>" line so far.
    struct Key {
        std::string keysym;
        std::string mods;
        double time = 0;
    };
    std::vector<Key> keys();
    // A Control+V stroke has arrived.
    bool pasteSeen();

private:
    void readLines();
    std::optional<std::string> expect(const std::string& prefix, std::chrono::milliseconds limit);

    QProcess process_;
    std::string pending_;
    std::vector<std::string> lines_;
    std::size_t consumed_ = 0;
    bool ready_ = false;
};

// Another program holding the CLIPBOARD (text/plain), served until it is destroyed.
class ClipboardOwner {
public:
    explicit ClipboardOwner(const std::string& text);
    ~ClipboardOwner();
    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;
    bool ready() const { return ready_; }

private:
    QProcess process_;
    bool ready_ = false;
};

// What `xclip -selection clipboard -o` reads now.
std::optional<std::string> clipboardText();

// Sound for the recorder: files played into the test desktop's null sink, whose monitor is the
// default source.
std::optional<std::filesystem::path> speechWav(const std::filesystem::path& folder,
                                               const std::string& words);
// 16 kHz mono 16-bit: `toneSeconds` of a 440 Hz tone at half scale, then `silenceSeconds` of
// silence.
std::filesystem::path toneWav(const std::filesystem::path& file, double toneSeconds,
                              double silenceSeconds);
// Plays to the end (paplay into $VOZMO_TEST_SINK).
bool play(const std::filesystem::path& wav);
std::vector<std::string> playArguments(const std::filesystem::path& wav);

// One timed dictation into the target: the dictation key held for `seconds` while `wav` plays,
// then released, and the paste stroke (Control+V) the target saw after the release.
struct HeldDictation {
    double released = 0;          // monotonicSeconds
    std::optional<double> pasted; // monotonicSeconds; absent when no paste came within the limit
    std::string failure;          // why the recording did not even start
};
HeldDictation holdKeyUntilPaste(Desk& desk, HudWatch& hud, Target& target,
                                const std::filesystem::path& wav, double seconds,
                                std::chrono::milliseconds limit);
// The same for a long recording: the key is held until `wav` has played to its end (with a
// buffer of `latencyMs`, which a loaded machine needs to play minutes without gaps) and let go
// `afterEnd` seconds later, as a speaker does, so that no sound is left out whatever the delay
// before the sound started.
HeldDictation holdKeyThroughPlayback(Desk& desk, HudWatch& hud, Target& target,
                                     const std::filesystem::path& wav, double afterEnd,
                                     std::chrono::milliseconds limit, int latencyMs = 200);

// The path of the application under test, and the environment it runs with: the private
// account, the stand-ins' behaviour folder and the stand-ins first on PATH (DISPLAY, PULSE_SERVER
// and the session bus are inherited).
std::string vozmoExecutable();
std::map<std::string, std::string> appEnvironment(const AppHome& home, const StandinDir& standins);

// `vozmo` with no arguments in the private account, the stand-ins first on PATH. Stopped by pid
// on destruction, and so is every stand-in server it started that is still alive.
class RunningApp {
public:
    // Without `standinsOnPath` the application finds no server program until the test puts one
    // where it looks.
    RunningApp(const AppHome& home, const StandinDir& standins, bool standinsOnPath = true);
    ~RunningApp();
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    pid_t pid() const { return process_->pid(); }
    ChildProcess& process() { return *process_; }
    std::string log() const;
    // Waits until app.log holds `text` after byte offset `from`.
    bool waitForLog(const std::string& text, std::size_t from = 0,
                    std::chrono::milliseconds limit = 60s) const;
    std::size_t logSize() const;
    // Lines of app.log after `from` that contain `text`.
    std::vector<std::string> logLines(const std::string& text, std::size_t from = 0) const;
    // Every process the stand-ins recorded as started ("start" events).
    std::vector<pid_t> standinPids() const;
    // Output of the application (standard output and error) so far, for messages.
    std::string output() const;

private:
    const AppHome& home_;
    const StandinDir& standins_;
    std::filesystem::path outputFile_;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace vozmo::test
