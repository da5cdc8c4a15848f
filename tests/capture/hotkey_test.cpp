// Which callback each key event means, against a fake keyboard.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_key_events.h"
#include "hotkey.h"
#include "prefs.h"
#include "temp_home.h"

namespace vozmo {
namespace {

using test::FakeKeyboard;
using test::FakeKeyEvents;

// Events in a compact notation: "+fn" press, "-fn" release.
KeyEvent event(const std::string& text) {
    const bool pressed = text.at(0) == '+';
    const std::string name = text.substr(1);
    const Key key = name == "fn"     ? Key::fn
                    : name == "ralt" ? Key::rightAlt
                    : name == "esc"  ? Key::escape
                    : name == "mod"  ? Key::modifier
                                     : Key::other;
    return KeyEvent{key, pressed};
}

struct Monitor {
    FakeKeyboard keyboard;
    Hotkey hotkey{[this] { return std::make_unique<FakeKeyEvents>(keyboard); }};
    std::string calls; // D(own) U(p) O(ther key) E(scape)

    Monitor() {
        hotkey.onDown = [this] { calls += 'D'; };
        hotkey.onUp = [this] { calls += 'U'; };
        hotkey.onOtherKey = [this] { calls += 'O'; };
        hotkey.onEscape = [this] { calls += 'E'; };
    }
    void type(const std::vector<std::string>& events) {
        for (const auto& e : events) {
            keyboard.type(event(e));
        }
    }
};

TEST(Hotkey, EventsMeanTheseCallbacks) {
    struct Case {
        std::optional<std::string> preference; // none: never set
        std::vector<std::string> events;
        std::string calls;
        bool down;
    };
    const std::vector<Case> cases = {
        // Hold and release; repeated or duplicated events change nothing.
        {"fn", {"+fn", "+fn", "-fn", "-fn"}, "DU", false},
        {std::nullopt, {"+fn", "-fn"}, "DU", false},
        {"anything", {"+fn"}, "D", true},
        {"ropt", {"+ralt", "+ralt", "-ralt"}, "DU", false},
        // Other keys and modifiers while held: every press, auto-repeats included; modifiers
        // on press and release; plain key releases mean nothing.
        {"fn", {"+fn", "+a", "+a", "+a", "-a", "-fn"}, "DOOOU", false},
        {"fn", {"+fn", "+mod", "-mod", "-fn"}, "DOOU", false},
        {"fn", {"+a", "-a", "+mod", "-mod"}, "", false},
        // With "ropt", left Alt is another modifier, and so is Fn.
        {"ropt", {"+ralt", "+mod", "-mod"}, "DOO", true},
        {"ropt", {"+ralt", "+fn", "-fn", "-ralt"}, "DOOU", false},
        {"ropt", {"+fn", "-fn"}, "", false},
        {"fn", {"+ralt", "-ralt"}, "", false},
        {"fn", {"+fn", "+ralt", "-ralt", "-fn"}, "DOOU", false},
        // Escape, held dictation key or not, and never as another key.
        {"fn", {"+esc", "-esc"}, "E", false},
        {"fn", {"+fn", "+esc", "+esc", "-esc", "-fn"}, "DEEU", false},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        if (c.preference) {
            Prefs::setHotkey(*c.preference);
        }
        Monitor m;
        ASSERT_TRUE(m.hotkey.install());
        m.type(c.events);
        const std::string label = c.preference.value_or("(unset)") + " " + c.events.front();
        EXPECT_EQ(m.calls, c.calls) << label;
        EXPECT_EQ(m.hotkey.isDown, c.down) << label;
    }
}

TEST(Hotkey, AChangedPreferenceCountsFromTheNextEvent) {
    test::TempHome home;
    Prefs::setHotkey("fn");
    Monitor m;
    ASSERT_TRUE(m.hotkey.install());
    m.type({"+ralt", "-ralt"});
    EXPECT_EQ(m.calls, "");
    Prefs::setHotkey("ropt");
    m.type({"+ralt"});
    EXPECT_EQ(m.calls, "D");
    Prefs::setHotkey("fn");
    // Right Alt is now another modifier; Fn, the dictation key again, finds the state down
    // and only its release changes it.
    m.type({"-ralt", "+fn", "-fn"});
    EXPECT_EQ(m.calls, "DOU");
}

TEST(Hotkey, InstallingAgainLeavesOneMonitor) {
    test::TempHome home;
    Monitor m;
    ASSERT_TRUE(m.hotkey.install());
    ASSERT_TRUE(m.hotkey.install());
    ASSERT_TRUE(m.hotkey.install());
    EXPECT_EQ(m.keyboard.liveMonitors(), 1);
    m.type({"+fn", "+a", "+esc", "-fn"});
    EXPECT_EQ(m.calls, "DOEU");
}

TEST(Hotkey, ReportsWhenKeysCannotBeObserved) {
    test::TempHome home;
    Monitor m;
    m.keyboard.available = false;
    EXPECT_FALSE(m.hotkey.install());
    EXPECT_EQ(m.keyboard.liveMonitors(), 0);
    // A later install once the desktop allows it works normally.
    m.keyboard.available = true;
    EXPECT_TRUE(m.hotkey.install());
    m.type({"+fn"});
    EXPECT_EQ(m.calls, "D");
}

TEST(Hotkey, ACallbackMayReinstall) {
    test::TempHome home;
    Monitor m;
    ASSERT_TRUE(m.hotkey.install());
    m.hotkey.onEscape = [&] {
        m.calls += 'E';
        m.hotkey.install();
    };
    m.type({"+esc", "+fn"});
    EXPECT_EQ(m.calls, "ED");
    EXPECT_EQ(m.keyboard.liveMonitors(), 1);
}

} // namespace
} // namespace vozmo
