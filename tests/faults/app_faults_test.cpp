// The running application while its parts break under it: the speech server killed mid-request,
// the sound server killed and started again, a clipboard owner that dies or holds a large image,
// the X server going away and the application itself killed. Each ends with a dictation that
// works and nothing of the user's lost.
#include "harness.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::AppHome;
using test::kDictationKey;
using test::StandinKind;
using test::waitUntil;
namespace fs = std::filesystem;

const std::string kListening = "Escuchando";
const std::string kSpoken = " prueba tras el fallo\n";
const std::string kDictated = "prueba tras el fallo";

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets an environment variable for the processes this test starts, and puts it back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A sound server of the test's own, so it can be killed and started again on the same socket:
// a null sink whose monitor is the default source, as on the test desktop.
class PrivatePulse {
public:
    explicit PrivatePulse(const fs::path& folder)
        : folder_(folder), socket_(folder / "native"), server_("unix:" + socket_.string()) {
        fs::create_directories(folder_);
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
    }
    ~PrivatePulse() { stop(SIGKILL); }
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    const std::string& server() const { return server_; }

    bool start() {
        process_ = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{
                test::programPath("pulseaudio"), "-n", "--daemonize=no", "--exit-idle-time=-1",
                "--use-pid-file=no", "--load=module-null-sink sink_name=vsink",
                "--load=module-native-protocol-unix socket=" + socket_.string()},
            // Off the session bus: the desktop's own server holds its D-Bus name there.
            std::map<std::string, std::string>{
                {"XDG_RUNTIME_DIR", folder_.string()},
                {"HOME", folder_.string()},
                {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder_ / "no-bus").string()}},
            folder_ / "pulse.log");
        const bool answers = waitUntil([&] { return pactl({"info"}); }, 15s);
        return answers && pactl({"set-default-source", "vsink.monitor"}) &&
               pactl({"set-default-sink", "vsink"});
    }

    void stop(int signal) {
        if (process_ && process_->running()) {
            ::kill(process_->pid(), signal);
            process_->wait(10s);
        }
        process_.reset();
        std::error_code ec;
        fs::remove(socket_, ec);
    }

private:
    bool pactl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {test::programPath("pactl"), "-s", server_});
        test::ChildProcess pactl(arguments, {}, folder_ / "pactl.out");
        const auto status = pactl.wait(5s);
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    fs::path folder_;
    fs::path socket_;
    std::string server_;
    std::unique_ptr<test::ChildProcess> process_;
};

// A clipboard owner with faults on order (tests/faults/fault_clipboard_owner.cpp).
class FaultClipboardOwner {
public:
    explicit FaultClipboardOwner(const std::vector<std::string>& arguments) {
        QStringList args;
        for (const auto& argument : arguments) {
            args << QString::fromStdString(argument);
        }
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(VOZMO_FAULT_CLIPBOARD_OWNER, args);
        ready_ = process_.waitForStarted(10000) &&
                 waitUntil([&] { return process_.canReadLine(); }, 20s) &&
                 process_.readLine().startsWith("ready");
    }
    ~FaultClipboardOwner() {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished(3000);
        }
    }
    FaultClipboardOwner(const FaultClipboardOwner&) = delete;
    FaultClipboardOwner& operator=(const FaultClipboardOwner&) = delete;

    bool ready() const { return ready_; }
    bool running() const { return process_.state() != QProcess::NotRunning; }

private:
    QProcess process_;
    bool ready_ = false;
};

class AppFaults : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(desk_.connected()) << "no X display"; }

    void TearDown() override {
        for (const char* key : {kDictationKey.c_str(), "Escape"}) {
            desk_.key(key, false);
        }
        if (HasFailure() && app_) {
            std::cerr << "--- app.log ---\n"
                      << app_->log() << "--- vozmo output ---\n"
                      << app_->output() << "--- panel ---\n"
                      << (hud_ ? hud_->shownSince(0) : "") << "\n--- speech server ---\n";
            for (const auto& entry : standins_.records(StandinKind::Whisper)) {
                std::cerr << entry.value("event", "") << " " << entry.value("pid", 0) << " "
                          << entry.value("reason", "") << "\n";
            }
        }
        hud_.reset();
        app_.reset();
        killed_.reset();
        target_.reset();
        home_.reset();
    }

    void makeHome(const AppHome::Options& options = {.polish = false}) {
        home_ = std::make_unique<AppHome>(options);
        tone_ = test::toneWav(home_->root() / "tone.wav", 1.2, 0.3);
        longTone_ = test::toneWav(home_->root() / "long.wav", 6.0, 0.0);
        silence_ = test::toneWav(home_->root() / "silence.wav", 0.0, 0.1);
    }

    // The target window with the focus, then the application; waits for the speech server (and
    // the language model's warm-up when polishing is on).
    void launch(bool polish = false) {
        if (!home_) {
            makeHome({.polish = polish});
        }
        if (!target_) {
            target_ = std::make_unique<test::Target>(desk_);
            ASSERT_TRUE(target_->ready()) << "the target window never got the focus";
        }
        const auto logFrom =
            home_ && fs::exists(home_->logFile()) ? readWhole(home_->logFile()).size() : 0;
        app_ = std::make_unique<test::RunningApp>(*home_, standins_);
        ASSERT_TRUE(app_->process().started());
        hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
        ASSERT_TRUE(app_->waitForLog("whisper listo en", logFrom, 90s)) << app_->log();
        if (polish) {
            ASSERT_TRUE(app_->waitForLog("llm listo en", logFrom, 90s)) << app_->log();
        }
        ASSERT_TRUE(app_->waitForLog("Vozmo iniciado", logFrom, 20s)) << app_->log();
        ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s));
    }

    // A whole dictation that has to land in the target as `expected`.
    void dictationWorks(const std::string& expected = kDictated) {
        standins_.configure(StandinKind::Whisper, {{"text", " " + expected + "\n"}});
        ASSERT_TRUE(target_->setText(""));
        waitUntil([&] { return !hud_->panelVisible(); }, 15s);
        // The tone already plays when the key goes down: a player started later could miss the
        // recording on a loaded machine.
        test::ChildProcess player(test::playArguments(longTone_));
        waitUntil([] { return false; }, 1s);
        const auto held = test::holdKeyUntilPaste(desk_, *hud_, *target_, silence_, 1.6, 30s);
        ASSERT_EQ(held.failure, "") << hud_->shownSince(0);
        EXPECT_TRUE(waitUntil([&] { return target_->text() == expected; }, 10s))
            << "the target shows \"" << target_->text().value_or("?") << "\"; panel "
            << hud_->shownSince(0);
    }

    // Holds the key until the panel says it listens, plays the tone and lets go.
    void holdAndPlay() {
        const auto from = hud_->mark();
        ASSERT_TRUE(desk_.key(kDictationKey, true));
        ASSERT_TRUE(hud_->waitFor(kListening, from)) << hud_->shownSince(from);
        ASSERT_TRUE(test::play(tone_));
        ASSERT_TRUE(desk_.key(kDictationKey, false));
    }

    std::vector<nlohmann::json> inferences() const {
        return standins_.requests(StandinKind::Whisper, "/inference");
    }

    // Pids of the servers started so far ("start" records).
    std::vector<pid_t> serverPids(StandinKind kind) const {
        std::vector<pid_t> pids;
        for (const auto& entry : standins_.records(kind)) {
            if (entry.value("event", "") == "start") {
                pids.push_back(entry.value("pid", 0));
            }
        }
        return pids;
    }

    test::Desk desk_;
    test::StandinDir standins_;
    std::unique_ptr<AppHome> home_;
    fs::path tone_;
    fs::path longTone_;
    fs::path silence_;
    std::unique_ptr<test::Target> target_;
    std::unique_ptr<test::RunningApp> killed_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
};

// The speech server dies (SIGKILL) while it transcribes: the user is told, the server comes
// back, and the next dictation goes through.
TEST_F(AppFaults, SpeechServerKilledMidTranscription) {
    standins_.configure(StandinKind::Whisper,
                        {{"text", kSpoken}, {"exit_during_request", 1}, {"exit_signal", "KILL"}});
    ASSERT_NO_FATAL_FAILURE(launch());
    const auto first = serverPids(StandinKind::Whisper);
    ASSERT_EQ(first.size(), 1u);
    const auto logFrom = app_->logSize();

    const auto from = hud_->mark();
    ASSERT_NO_FATAL_FAILURE(holdAndPlay());
    EXPECT_TRUE(hud_->waitFor(
        "No se pudo transcribir: usa «Reintentar el último dictado» en el menú", from, 30s))
        << hud_->shownSince(from);
    EXPECT_TRUE(app_->waitForLog("whisper se cerró inesperadamente", logFrom, 10s));
    standins_.configure(StandinKind::Whisper, {{"text", kSpoken}});
    EXPECT_TRUE(app_->waitForLog("whisper listo en", logFrom, 60s)) << app_->log();
    EXPECT_FALSE(test::processAlive(first[0]));
    EXPECT_EQ(target_->text(), "");
    EXPECT_FALSE(target_->pasteSeen());

    ASSERT_NO_FATAL_FAILURE(dictationWorks());
}

// The application is killed (SIGKILL) while a transcription is in flight: the servers it
// leaves behind are swept by the next start, which then works as usual.
TEST_F(AppFaults, KilledApplicationsServersAreSweptAtTheNextStart) {
    standins_.configure(StandinKind::Whisper, {{"text", kSpoken}, {"delay", 30}});
    ASSERT_NO_FATAL_FAILURE(launch(true));
    ASSERT_NO_FATAL_FAILURE(holdAndPlay());
    ASSERT_TRUE(waitUntil([&] { return inferences().size() == 1; }));
    const auto orphans = app_->standinPids();
    ASSERT_EQ(std::count_if(orphans.begin(), orphans.end(), test::processAlive), 2);

    ASSERT_EQ(::kill(app_->pid(), SIGKILL), 0);
    ASSERT_TRUE(app_->process().wait(10s));
    // Orphaned, the servers still run and hold the fixed ports.
    EXPECT_EQ(std::count_if(orphans.begin(), orphans.end(), test::processAlive), 2);
    hud_.reset();
    // Kept (not destroyed) until the end: its destructor would stop the orphans itself.
    killed_ = std::move(app_);
    standins_.configure(StandinKind::Whisper, {{"text", kSpoken}});

    ASSERT_NO_FATAL_FAILURE(launch(true));
    EXPECT_TRUE(waitUntil(
        [&] { return std::none_of(orphans.begin(), orphans.end(), test::processAlive); }, 15s))
        << "an orphaned server outlived the next start";
    EXPECT_EQ(serverPids(StandinKind::Whisper).size(), 2u);
    EXPECT_EQ(app_->logLines("está ocupado").size(), 0u) << app_->log();
    ASSERT_NO_FATAL_FAILURE(dictationWorks());
}

// The sound server is killed and started again, once while idle and once mid-recording: the
// recording ends with a message, and the next dictation records from the new server.
TEST_F(AppFaults, SoundServerRestartedWhileIdleAndWhileRecording) {
    makeHome();
    PrivatePulse pulse(home_->root() / "pulse");
    ASSERT_TRUE(pulse.start());
    ScopedEnv server("PULSE_SERVER", pulse.server());
    ASSERT_NO_FATAL_FAILURE(launch());

    // Idle.
    pulse.stop(SIGKILL);
    ASSERT_TRUE(pulse.start());
    ASSERT_NO_FATAL_FAILURE(dictationWorks("primera tras reiniciar"));

    // Mid-recording: the key still held, the tone still playing when the server goes.
    ASSERT_TRUE(target_->setText(""));
    const auto requests = inferences().size();
    const auto from = hud_->mark();
    ASSERT_TRUE(desk_.key(kDictationKey, true));
    ASSERT_TRUE(hud_->waitFor(kListening, from)) << hud_->shownSince(from);
    {
        test::ChildProcess player(test::playArguments(tone_));
        waitUntil([] { return false; }, 600ms);
        pulse.stop(SIGKILL);
    }
    // A message replaces the listening panel while the key is still held.
    const auto lost = hud_->mark();
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto shown = hud_->shownSince(lost);
            return shown != "nothing" && shown != "\"" + kListening + "\"";
        },
        10s))
        << "the panel still listens to a dead sound server: " << hud_->shownSince(from);
    ASSERT_TRUE(desk_.key(kDictationKey, false));
    waitUntil([&] { return !hud_->panelVisible(); }, 15s);
    EXPECT_EQ(inferences().size(), requests) << "a broken recording was sent for transcription";
    EXPECT_EQ(target_->text(), "");

    ASSERT_TRUE(pulse.start());
    ASSERT_NO_FATAL_FAILURE(dictationWorks("segunda tras reiniciar"));
}

// Clipboard owners that fail Vozmo: one that dies while its formats are read, and one holding a
// 20 MB image. Afterwards the clipboard holds the user's content byte for byte, or (the owner
// gone) the dictated text; never a part of what was there.
TEST_F(AppFaults, ClipboardOwnerDyingOrHuge) {
    ASSERT_NO_FATAL_FAILURE(launch());

    // Dies when asked for its image, after its text has been read.
    {
        FaultClipboardOwner owner(
            {"text/plain=texto del usuario", "image/png=PNGDATA", "--die-on", "image/png"});
        ASSERT_TRUE(owner.ready());
        ASSERT_NO_FATAL_FAILURE(dictationWorks());
        EXPECT_FALSE(owner.running()) << "the owner was never asked for its image";
        waitUntil([] { return false; }, 2s);
        const auto text = test::clipboardText();
        EXPECT_NE(text, "texto del usuario") << "only part of the dead owner's content came back";
    }

    // 20 MB of random bytes as image/png, with a text beside it.
    const fs::path image = home_->root() / "big.png";
    {
        std::mt19937 random(7);
        std::string bytes(20u << 20, '\0');
        for (auto& byte : bytes) {
            byte = static_cast<char>(random());
        }
        std::ofstream(image, std::ios::binary) << bytes;
    }
    FaultClipboardOwner owner({"image/png=@" + image.string(), "text/plain=pie de foto"});
    ASSERT_TRUE(owner.ready());
    ASSERT_NO_FATAL_FAILURE(dictationWorks());
    waitUntil([] { return false; }, 3s);
    const fs::path back = home_->root() / "back.png";
    {
        // Not through a pipe: 20 MB of binary in a QProcess buffer is fine, but a file is exact.
        const int status = test::runProgram(
            {"sh", "-c", "xclip -selection clipboard -t image/png -o > \"$0\"", back.string()},
            60s);
        ASSERT_EQ(status, 0);
    }
    const std::string now = readWhole(back);
    const auto text = test::clipboardText();
    const bool restored = now == readWhole(image) && text == "pie de foto";
    const bool untouched = now.empty() && text == kDictated;
    EXPECT_TRUE(restored || untouched)
        << "image " << now.size() << " bytes, text \"" << text.value_or("?") << "\"";
    EXPECT_TRUE(restored) << "the image was not given back";
}

// The X server goes away under the application: it says why in its log, stops both servers and
// ends with a failure status of its own, not by a signal (Qt's and Xlib's exit() from inside
// their event handling used to crash in teardown about one run in two).
TEST_F(AppFaults, XServerGoingAwayStopsTheApplicationAndItsServers) {
    int number = 150;
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
           fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
        ++number;
    }
    const std::string display = ":" + std::to_string(number);
    makeHome({.polish = true});
    test::ChildProcess xvfb(
        {test::programPath("Xvfb"), display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {},
        home_->root() / "xvfb.log");
    ASSERT_TRUE(
        waitUntil([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(number)); }, 15s));
    {
        ScopedEnv x("DISPLAY", display);
        app_ = std::make_unique<test::RunningApp>(*home_, standins_);
        ASSERT_TRUE(app_->waitForLog("whisper listo en", 0, 90s)) << app_->log();
        ASSERT_TRUE(app_->waitForLog("llm listo en", 0, 90s)) << app_->log();
        const auto servers = app_->standinPids();
        ASSERT_EQ(std::count_if(servers.begin(), servers.end(), test::processAlive), 2);

        const auto logFrom = app_->logSize();
        ::kill(xvfb.pid(), SIGKILL);
        xvfb.wait(10s);
        const auto status = app_->process().wait(30s);
        ASSERT_TRUE(status) << "still running without its X server";
        EXPECT_FALSE(WIFSIGNALED(*status)) << "killed by signal " << WTERMSIG(*status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) != 0)
            << "a lost display reported as a clean exit";
        EXPECT_EQ(app_->logLines("Se perdió la conexión con la pantalla", logFrom).size(), 1u)
            << app_->log();
        EXPECT_TRUE(waitUntil(
            [&] { return std::none_of(servers.begin(), servers.end(), test::processAlive); }, 15s))
            << "a server outlived the application";
        for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
            int stopped = 0;
            for (const auto& entry : standins_.records(kind)) {
                stopped +=
                    entry.value("event", "") == "exit" && entry.value("reason", "") == "SIGTERM";
            }
            EXPECT_EQ(stopped, 1) << test::standinName(kind) << " was not asked to stop";
        }
    }
    // The same account dictates on the test desktop afterwards.
    app_.reset();
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_NO_FATAL_FAILURE(dictationWorks());
}

} // namespace
} // namespace vozmo
