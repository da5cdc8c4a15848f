// Quitting after a dictation, many times over, by every way a user or the session ends Vozmo:
// each run must end with status 0 and no crash, whatever the sounds and threads still running.
#include "harness.h"

#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::AppHome;
using test::kDictationKey;
using test::StandinKind;
using test::waitUntil;
namespace fs = std::filesystem;

const std::string kDictated = "prueba de salida";

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GRef = std::unique_ptr<T, GObjectUnref>;

// The first push button named `name` under `node`, through the accessibility bus.
GRef<AtspiAccessible> findButton(AtspiAccessible* node, const std::string& name, int depth = 0) {
    if (depth > 30) {
        return nullptr;
    }
    if (atspi_accessible_get_role(node, nullptr) == ATSPI_ROLE_PUSH_BUTTON) {
        gchar* own = atspi_accessible_get_name(node, nullptr);
        const bool match = own != nullptr && name == own;
        g_free(own);
        if (match) {
            return GRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(node)));
        }
    }
    const int children = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < children; ++i) {
        GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, i, nullptr));
        if (child) {
            if (auto found = findButton(child.get(), name, depth + 1)) {
                return found;
            }
        }
    }
    return nullptr;
}

// Presses "Salir de Vozmo" in the process's window as a user would, through the accessibility
// bus: the test desktop has no tray, so the setup window carries the menu's quit.
bool pressQuit(pid_t pid) {
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return false;
    }
    const int apps = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (int i = 0; i < apps; ++i) {
        GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (!app ||
            atspi_accessible_get_process_id(app.get(), nullptr) != static_cast<guint>(pid)) {
            continue;
        }
        auto button = findButton(app.get(), "Salir de Vozmo");
        if (!button) {
            return false;
        }
        GRef<AtspiAction> action(atspi_accessible_get_action_iface(button.get()));
        return action && atspi_action_do_action(action.get(), 0, nullptr);
    }
    return false;
}

enum class Quit { signalTerm, signalInt, signalHup, menu };

const char* describe(Quit quit) {
    switch (quit) {
    case Quit::signalTerm:
        return "SIGTERM";
    case Quit::signalInt:
        return "SIGINT";
    case Quit::signalHup:
        return "SIGHUP (the session's end)";
    case Quit::menu:
        return "Salir de Vozmo";
    }
    return "?";
}

class AppQuit : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Qt offers its widgets on the accessibility bus only when asked to.
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        atspi_init();
    }

    void SetUp() override {
        ASSERT_TRUE(desk_.connected()) << "no X display";
        home_ = std::make_unique<AppHome>(AppHome::Options{.polish = false, .sounds = true});
        tone_ = test::toneWav(home_->root() / "tone.wav", 6.0, 0.0);
        silence_ = test::toneWav(home_->root() / "silence.wav", 0.0, 0.1);
        target_ = std::make_unique<test::Target>(desk_);
        ASSERT_TRUE(target_->ready()) << "the target window never got the focus";
        standins_.configure(StandinKind::Whisper, {{"text", " " + kDictated + "\n"}});
    }

    void TearDown() override {
        desk_.key(kDictationKey, false);
        hud_.reset();
        app_.reset();
        target_.reset();
        home_.reset();
    }

    // Starts Vozmo (sounds on), dictates into the target, quits the way asked for as soon as the
    // text has landed, and expects status 0. Failures name the run.
    void dictateThenQuit(Quit quit, int run) {
        SCOPED_TRACE(std::string(describe(quit)) + ", run " + std::to_string(run));
        const auto logFrom = fs::exists(home_->logFile()) ? readWhole(home_->logFile()).size() : 0;
        app_ = std::make_unique<test::RunningApp>(*home_, standins_);
        ASSERT_TRUE(app_->process().started());
        hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
        ASSERT_TRUE(app_->waitForLog("whisper listo en", logFrom, 90s)) << app_->output();
        ASSERT_TRUE(app_->waitForLog("Vozmo iniciado", logFrom, 20s)) << app_->output();
        ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s));
        ASSERT_TRUE(target_->setText(""));

        // The tone already plays when the key goes down, so the recording has sound.
        test::ChildProcess player(test::playArguments(tone_));
        waitUntil([] { return false; }, 1s);
        const auto held = test::holdKeyUntilPaste(desk_, *hud_, *target_, silence_, 1.6, 30s);
        player.stop();
        ASSERT_EQ(held.failure, "") << hud_->shownSince(0);
        ASSERT_TRUE(waitUntil([&] { return target_->text() == kDictated; }, 10s))
            << "the target shows \"" << target_->text().value_or("?") << "\"; panel "
            << hud_->shownSince(0) << "\n"
            << app_->log();

        switch (quit) {
        case Quit::signalTerm:
            ASSERT_EQ(::kill(app_->pid(), SIGTERM), 0);
            break;
        case Quit::signalInt:
            ASSERT_EQ(::kill(app_->pid(), SIGINT), 0);
            break;
        case Quit::signalHup:
            ASSERT_EQ(::kill(app_->pid(), SIGHUP), 0);
            break;
        case Quit::menu:
            ASSERT_TRUE(waitUntil([&] { return pressQuit(app_->pid()); }, 10s))
                << "no \"Salir de Vozmo\" button on the accessibility bus";
            break;
        }
        const auto status = app_->process().wait(30s);
        ASSERT_TRUE(status) << "still running 30 s after the quit";
        EXPECT_FALSE(WIFSIGNALED(*status)) << "ended by signal " << WTERMSIG(*status)
                                           << (WCOREDUMP(*status) ? " (core)" : "") << "\n"
                                           << app_->output();
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
        hud_.reset();
        app_.reset();
    }

    test::Desk desk_;
    test::StandinDir standins_;
    std::unique_ptr<AppHome> home_;
    fs::path tone_;
    fs::path silence_;
    std::unique_ptr<test::Target> target_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
};

// The signals the session and the terminal send, each many times: a crash at quit depends on
// timing and showed in about half of the runs.
TEST_F(AppQuit, TwentyQuitsBySignalAfterADictationExitZero) {
    for (int run = 1; run <= 20; ++run) {
        const Quit quit = run % 10 == 9   ? Quit::signalInt
                          : run % 10 == 0 ? Quit::signalHup
                                          : Quit::signalTerm;
        ASSERT_NO_FATAL_FAILURE(dictateThenQuit(quit, run));
        if (HasFailure()) {
            break;
        }
    }
}

TEST_F(AppQuit, TwentyQuitsByTheMenuAfterADictationExitZero) {
    for (int run = 1; run <= 20; ++run) {
        ASSERT_NO_FATAL_FAILURE(dictateThenQuit(Quit::menu, run));
        if (HasFailure()) {
            break;
        }
    }
}

} // namespace
} // namespace vozmo
