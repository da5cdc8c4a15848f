// The dictation key on the test desktop's X server: xdotool types while a GTK window has the
// focus, and that window must still receive every key.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <QProcess>

#include <gtest/gtest.h>

#include "config.h"
#include "desktop_support.h"
#include "hotkey.h"
#include "key_events.h"
#include "prefs.h"
#include "temp_home.h"
#include "x_keyboard.h"

namespace vozmo {
namespace {

using test::run;
using test::waitFor;

// Keysyms as xdotool names them. In Xvfb's keymap the right Alt key (XKB's RALT, keycode 108)
// is Alt_R; ISO_Level3_Shift, AltGr, sits on keycode 92. XF86WakeUp, our Fn, is on 151.
const std::string rightAlt = "Alt_R";
const std::string altGr = "ISO_Level3_Shift";
const std::string fnKey = "XF86WakeUp";

class HotkeyDesktop : public testing::Test {
protected:
    void SetUp() override {
        window_.setProgram("/usr/bin/python3");
        window_.setArguments({VOZMO_KEY_WINDOW});
        QObject::connect(&window_, &QProcess::readyReadStandardOutput, [this] {
            while (window_.canReadLine()) {
                windowLines_.push_back(window_.readLine().trimmed().toStdString());
            }
        });
        window_.start();
        ASSERT_TRUE(window_.waitForStarted(20000));
        ASSERT_TRUE(waitFor([this] { return !windowLines_.empty(); }, 30.0))
            << "the test window never got the focus";
        windowLines_.clear();

        hotkey_.onDown = [this] { calls_ += 'D'; };
        hotkey_.onUp = [this] { calls_ += 'U'; };
        hotkey_.onOtherKey = [this] { calls_ += 'O'; };
        hotkey_.onEscape = [this] { calls_ += 'E'; };
    }

    void TearDown() override {
        // Nothing stays held for the next test, whatever happened here.
        run({"xdotool", "keyup", rightAlt, altGr, fnKey, "Alt_L", "Shift_L", "a", "Escape"});
        test::XKeyboard().setRepeat(true);
        window_.kill();
        window_.waitForFinished(10000);
    }

    void xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        ASSERT_EQ(run(args), 0);
    }

    // Presses Escape as a marker and waits for its callback: every event typed before it has
    // then been handled, so the calls seen are all there will be.
    std::string settle() {
        const std::string before = calls_;
        run({"xdotool", "key", "Escape"});
        const bool seen = waitFor([&] { return calls_.size() > before.size(); });
        EXPECT_TRUE(seen) << "the marker never arrived";
        std::string calls = calls_;
        if (seen && calls.back() == 'E') {
            calls.pop_back();
        }
        calls_ = calls;
        return calls;
    }

    // What the focused window received, once `count` lines have arrived.
    std::vector<std::string> windowGot(std::size_t count) {
        waitFor([&] { return windowLines_.size() >= count; });
        return windowLines_;
    }

    test::TempHome home_;
    QProcess window_;
    std::vector<std::string> windowLines_;
    Hotkey hotkey_;
    std::string calls_;
};

TEST_F(HotkeyDesktop, ObservesWithoutGrabbing) {
    ASSERT_TRUE(keyMonitorAvailable()) << keyMonitorProblem();
    EXPECT_EQ(keyMonitorProblem(), "");
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    ASSERT_TRUE(hotkey_.install()); // again: still one set of monitors

    xdotool({"keydown", fnKey});
    EXPECT_EQ(settle(), "D");
    EXPECT_TRUE(hotkey_.isDown);
    xdotool({"key", "a"});
    xdotool({"key", "Shift_L"});
    EXPECT_EQ(settle(), "DOOO") << "a letter once, a modifier on press and release";
    xdotool({"keyup", fnKey});
    EXPECT_EQ(settle(), "DOOOU");
    EXPECT_FALSE(hotkey_.isDown);
    xdotool({"key", "a"});
    EXPECT_EQ(settle(), "DOOOU") << "nothing held: other keys mean nothing";

    // GTK names XF86WakeUp "WakeUp".
    const std::vector<std::string> expected = {
        "press WakeUp",   "press Escape",   "release Escape",  "press a",
        "release a",      "press Shift_L",  "release Shift_L", "press Escape",
        "release Escape", "release WakeUp", "press Escape",    "release Escape",
        "press a",        "release a",      "press Escape",    "release Escape"};
    EXPECT_EQ(windowGot(expected.size()), expected) << "the focused window got every key";
}

TEST_F(HotkeyDesktop, RightAltWithLeftAltInBetween) {
    Prefs::setHotkey("ropt");
    ASSERT_TRUE(hotkey_.install());
    xdotool({"keydown", rightAlt});
    xdotool({"key", "Alt_L"});
    EXPECT_EQ(settle(), "DOO");
    EXPECT_TRUE(hotkey_.isDown);
    xdotool({"key", fnKey}); // with "ropt", Fn is another modifier
    EXPECT_EQ(settle(), "DOOOO");
    xdotool({"keyup", rightAlt});
    EXPECT_EQ(settle(), "DOOOOU");
}

// AltGr types @ # € [ ] on the Spanish layout: with "Alt derecha" as the key, typing them must
// not start a recording. Only a right Alt that is Alt itself is the dictation key.
TEST_F(HotkeyDesktop, AltGrIsNeverTheDictationKey) {
    EXPECT_FALSE(rightAltIsAltGr()) << "Xvfb's US layout has Alt_R on its right Alt key";
    Prefs::setHotkey("ropt");
    ASSERT_TRUE(hotkey_.install());
    xdotool({"keydown", altGr});
    xdotool({"key", "2"});
    xdotool({"keyup", altGr});
    EXPECT_EQ(settle(), "");
    EXPECT_FALSE(hotkey_.isDown);
}

TEST_F(HotkeyDesktop, EscapeHeldOrNot) {
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    xdotool({"key", "Escape"});
    EXPECT_EQ(settle(), "E");
    xdotool({"keydown", fnKey});
    xdotool({"key", "Escape"});
    xdotool({"keyup", fnKey});
    EXPECT_EQ(settle(), "EDEU") << "Escape is never another key";

    // Held, it repeats as Escape.
    calls_.clear();
    xdotool({"keydown", fnKey});
    xdotool({"keydown", "Escape"});
    waitFor([&] { return calls_.size() >= 4; }, 10.0);
    xdotool({"keyup", "Escape"});
    xdotool({"keyup", fnKey});
    const std::string held = settle();
    EXPECT_GE(held.size(), 5u) << held;
    EXPECT_EQ(held, "D" + std::string(held.size() - 2, 'E') + "U");
}

TEST_F(HotkeyDesktop, FollowsAChangedKeyboardMapping) {
    // Keys are matched by keysym: give Fn's keycode another keysym while the monitor runs.
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    test::XKeyboard keyboard;
    ASSERT_TRUE(keyboard.connected());
    const unsigned code = keyboard.keycodeOf(fnKey);
    ASSERT_NE(code, 0u);
    keyboard.tap(code);
    EXPECT_EQ(settle(), "DU");

    // A client learns of a new mapping from the server's notice, which it reads after the
    // events typed before it: the marker makes sure the monitor is past it.
    keyboard.map(code, "Escape");
    settle();
    calls_.clear();
    keyboard.tap(code);
    EXPECT_EQ(settle(), "E");
    keyboard.map(code, fnKey);
    settle();
    calls_.clear();
    keyboard.tap(code);
    EXPECT_EQ(settle(), "DU") << "and back";
}

TEST(KeyMonitorDesktop, UnavailableWithoutAnXServer) {
    test::TempHome home;
    ensureSupport();
    EXPECT_TRUE(keyMonitorAvailable());
    const std::string display = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
    ::unsetenv("DISPLAY");
    const bool available = keyMonitorAvailable();
    const std::string problem = keyMonitorProblem();
    Hotkey hotkey;
    const bool installed = hotkey.install();
    ::setenv("DISPLAY", display.c_str(), 1);

    EXPECT_FALSE(available);
    EXPECT_NE(problem.find("servidor X"), std::string::npos) << problem;
    EXPECT_FALSE(installed);
    const std::string log = test::readFile(config().logsDir / "app.log");
    EXPECT_NE(log.find("Monitor de teclas no disponible: " + problem), std::string::npos) << log;
}

TEST_F(HotkeyDesktop, AChangedPreferenceCountsFromTheNextEvent) {
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    xdotool({"key", rightAlt});
    EXPECT_EQ(settle(), "");
    Prefs::setHotkey("ropt");
    xdotool({"key", rightAlt});
    EXPECT_EQ(settle(), "DU");
    xdotool({"key", fnKey});
    EXPECT_EQ(settle(), "DU");
}

TEST_F(HotkeyDesktop, HeldKeysRepeatAsOtherKeys) {
    // The server repeats a held key for the focused window only; the monitor makes its own
    // repeats with the server's delay and interval. How many each side makes depends on when
    // its timers get to run, so what counts is that repeats come as other keys while the key is
    // held, and stop when it comes up.
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    xdotool({"keydown", fnKey});
    EXPECT_EQ(settle(), "D");
    const auto presses = [this] {
        return std::count(windowLines_.begin(), windowLines_.end(), "press a");
    };
    const auto others = [this] { return std::count(calls_.begin(), calls_.end(), 'O'); };
    xdotool({"keydown", "a"});
    const bool repeated = waitFor([&] { return presses() >= 3 && others() >= 3; });
    xdotool({"keyup", "a"});
    ASSERT_TRUE(repeated) << presses() << " presses in the window, calls " << calls_;
    const std::string held = settle();
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held, "D" + std::string(held.size() - 1, 'O'));
    // Longer than the repeat delay: a repeat still running would show.
    waitFor([] { return false; }, 1.5);
    xdotool({"keyup", fnKey});
    EXPECT_EQ(settle(), held + "U") << "a repeat after the key came up";
}

TEST_F(HotkeyDesktop, NoRepeatsWhileTheServerMakesNone) {
    Prefs::setHotkey("fn");
    ASSERT_TRUE(hotkey_.install());
    test::XKeyboard keyboard;
    ASSERT_TRUE(keyboard.connected());
    keyboard.setRepeat(false);
    xdotool({"keydown", fnKey});
    xdotool({"keydown", "a"});
    // Well past the delay after which repeats would begin.
    waitFor([] { return false; }, 1.5);
    xdotool({"keyup", "a"});
    xdotool({"keyup", fnKey});
    EXPECT_EQ(settle(), "DOU");
    keyboard.setRepeat(true);
    windowGot(2);
    EXPECT_EQ(std::count(windowLines_.begin(), windowLines_.end(), "press a"), 1)
        << "the server itself repeated";
}

} // namespace
} // namespace vozmo
