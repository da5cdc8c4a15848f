// The whole application with a dictation key the user chose: a key, a mouse side button, and a
// Spanish layout where the right Alt key is AltGr and @ is typed with it.
#include "harness.h"

#include <gtest/gtest.h>

#include <QString>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::AppHome;
using test::StandinKind;
using test::waitUntil;

const std::string kListening = "Escuchando";

// A mouse button through XTEST, as a mouse sends it.
bool button(unsigned number, bool down) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XTestFakeButtonEvent(display, number, down ? True : False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

class ChosenKeyE2e : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(desk_.connected()) << "no X display";
        standins_.configure(StandinKind::Whisper, {{"text", " hola desde mi tecla\n"}});
    }

    void TearDown() override {
        for (const char* key : {"Control_R", "ISO_Level3_Shift", "2"}) {
            desk_.key(key, false);
        }
        button(9, false);
        if (HasFailure() && app_) {
            std::cerr << "--- app.log ---\n"
                      << app_->log() << "--- panel ---\n"
                      << hud_->shownSince(0) << "\n";
        }
        hud_.reset();
        app_.reset();
        target_.reset();
        home_.reset();
    }

    // The account with `hotkey` in its preferences, the target window, then the application.
    void launch(const std::string& hotkey, const std::string& keyName) {
        home_ = std::make_unique<AppHome>(AppHome::Options{.polish = false});
        std::ifstream in(home_->prefsFile());
        nlohmann::json prefs = nlohmann::json::parse(in);
        prefs["hotkey"] = hotkey;
        std::ofstream(home_->prefsFile()) << prefs.dump();
        target_ = std::make_unique<test::Target>(desk_);
        ASSERT_TRUE(target_->ready()) << "the target window never got the focus";
        app_ = std::make_unique<test::RunningApp>(*home_, standins_);
        hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
        ASSERT_TRUE(app_->waitForLog("whisper listo en", 0, 90s)) << app_->log();
        EXPECT_TRUE(hud_->waitFor("Listo · mantén " + keyName, 0, 20s)) << hud_->shownSince(0);
        ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s));
    }

    // Holds the key (`press` true) while the speech plays, lets it go, waits for the text.
    void dictateWith(const std::function<bool(bool)>& press) {
        const auto from = hud_->mark();
        ASSERT_TRUE(press(true));
        ASSERT_TRUE(hud_->waitFor(kListening, from)) << hud_->shownSince(from);
        const auto speech = test::speechWav(home_->root(), "Hola desde mi tecla.");
        ASSERT_TRUE(speech);
        ASSERT_TRUE(test::play(*speech));
        ASSERT_TRUE(press(false));
        EXPECT_TRUE(waitUntil(
            [&] {
                return target_->text().value_or("").find("desde mi tecla") != std::string::npos;
            },
            30s))
            << "the target holds " << target_->text().value_or("?");
    }

    test::Desk desk_;
    test::StandinDir standins_;
    std::unique_ptr<AppHome> home_;
    std::unique_ptr<test::Target> target_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
};

TEST_F(ChosenKeyE2e, AKeyAndASideButtonStartDictations) {
    ASSERT_NO_FATAL_FAILURE(launch("keys:Control_R", "Ctrl derecha"));
    ASSERT_NO_FATAL_FAILURE(dictateWith([&](bool down) { return desk_.key("Control_R", down); }));
    app_.reset();

    ASSERT_NO_FATAL_FAILURE(launch("keys:Button9", "botón lateral delantero del ratón"));
    // A side button is pressed with the pointer over the window one works in: a click elsewhere
    // would give another window the focus.
    unsigned long window = 0;
    for (const auto& seen : desk_.windowsOf(target_->pid())) {
        window = seen.viewable ? seen.id : window;
    }
    ASSERT_NE(window, 0u);
    ASSERT_EQ(test::runProgram({test::programPath("xdotool"), "mousemove", "--window",
                                std::to_string(window), "40", "40"}),
              0);
    ASSERT_NO_FATAL_FAILURE(dictateWith([](bool down) { return button(9, down); }));
}

TEST_F(ChosenKeyE2e, TypingAnAtSignOnASpanishLayoutNeverRecords) {
    const std::string display = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
    ASSERT_NO_FATAL_FAILURE(launch("ropt", "Alt derecha"));
    const auto saved = home_->root() / "keymap.xkb";
    ASSERT_EQ(test::runProgram({test::programPath("xkbcomp"), display, saved.string()}), 0);
    ASSERT_EQ(test::runProgram({test::programPath("setxkbmap"), "es"}), 0);
    const auto from = hud_->mark();
    for (int i = 0; i < 3; ++i) {
        desk_.key("ISO_Level3_Shift", true);
        desk_.tap("2");
        desk_.key("ISO_Level3_Shift", false);
    }
    const bool typed = waitUntil([&] { return target_->text() == "@@@"; }, 10s);
    // Longer than a recording would take to show on the panel.
    waitUntil([] { return false; }, 1500ms);
    test::runProgram({test::programPath("xkbcomp"), saved.string(), display});
    EXPECT_TRUE(typed) << "the target holds " << target_->text().value_or("?");
    EXPECT_FALSE(hud_->sawSince(kListening, from)) << hud_->shownSince(from);
    EXPECT_TRUE(standins_.requests(StandinKind::Whisper, "/inference").empty());
}

} // namespace
} // namespace vozmo
