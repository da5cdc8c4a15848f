// Which callback each key event means when the dictation key is one the user chose.
#include "fake_key_events.h"
#include "hotkey.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vozmo {
namespace {

// "+Control_R" press, "-Control_R" release; the kind follows from the name, as on X11.
KeyEvent event(const std::string& text) {
    const bool pressed = text.at(0) == '+';
    const std::string name = text.substr(1);
    Key key = Key::other;
    if (name == "portal") {
        return KeyEvent{Key::fn, pressed};
    }
    if (name == "Escape") {
        key = Key::escape;
    } else if (name.rfind("Button", 0) == 0) {
        key = Key::button;
    } else if (name.find("_L") != std::string::npos || name.find("_R") != std::string::npos ||
               name == "ISO_Level3_Shift") {
        key = Key::modifier; // AltGr included: what the monitor reports on AltGr layouts
    }
    return KeyEvent{key, pressed, name};
}

TEST(ChosenKey, EventsMeanTheseCallbacks) {
    struct Case {
        std::string stored;
        std::vector<std::string> events;
        std::string calls; // D(own) U(p) O(ther key) E(scape)
    };
    const std::vector<Case> cases = {
        {"keys:Control_R", {"+Control_R", "-Control_R"}, "DU"},
        // Repeats change nothing; releases of keys never pressed neither.
        {"keys:Pause", {"-Pause", "+Pause", "+Pause", "+Pause", "-Pause", "-Pause"}, "DU"},
        {"keys:Pause", {"+Pause", "+a", "-a", "+Shift_L", "-Shift_L", "-Pause"}, "DOOOU"},
        {"keys:Pause", {"+a", "+Escape", "+Button9"}, "E"},
        {"keys:Button9", {"+Button9", "+Button1", "-Button1", "-Button9"}, "DU"},
        // A combination: down once all are held, up at the first let go, in any order.
        {"keys:Control_R+Shift_R", {"+Control_R", "-Control_R"}, ""},
        {"keys:Control_R+Shift_R", {"+Shift_R", "+Control_R", "-Shift_R", "-Control_R"}, "DU"},
        {"keys:Control_L+Button8",
         {"+Control_L", "+Button8", "+x", "-Button8", "-Control_L"},
         "DOU"},
        // The old values keep working beside the new ones.
        {"fn", {"+Control_R"}, ""},
        // A desktop's shortcut (the portal) names no key: its trigger is the dictation key.
        {"keys:Pause", {"+portal", "+portal", "-portal"}, "DU"},
        // AltGr is never the dictation key, whatever prefs.json says.
        {"keys:ISO_Level3_Shift", {"+ISO_Level3_Shift", "-ISO_Level3_Shift"}, ""},
    };
    for (const Case& c : cases) {
        test::TempHome home;
        Prefs::setHotkey(c.stored);
        test::FakeKeyboard keyboard;
        Hotkey hotkey([&] { return std::make_unique<test::FakeKeyEvents>(keyboard); });
        std::string calls;
        hotkey.onDown = [&] { calls += 'D'; };
        hotkey.onUp = [&] { calls += 'U'; };
        hotkey.onOtherKey = [&] { calls += 'O'; };
        hotkey.onEscape = [&] { calls += 'E'; };
        ASSERT_TRUE(hotkey.install());
        for (const std::string& e : c.events) {
            keyboard.type(event(e));
        }
        EXPECT_EQ(calls, c.calls) << c.stored;
        EXPECT_FALSE(hotkey.isDown) << c.stored;
    }
}

TEST(ChosenKey, PausedMeansNothingAndLetsAHeldKeyGo) {
    test::TempHome home;
    Prefs::setHotkey("keys:Pause");
    test::FakeKeyboard keyboard;
    Hotkey hotkey([&] { return std::make_unique<test::FakeKeyEvents>(keyboard); });
    std::string calls;
    hotkey.onDown = [&] { calls += 'D'; };
    hotkey.onUp = [&] { calls += 'U'; };
    ASSERT_TRUE(hotkey.install());
    keyboard.type(event("+Pause"));
    hotkey.setPaused(true);
    keyboard.type(event("-Pause"));
    keyboard.type(event("+Pause"));
    hotkey.setPaused(false);
    keyboard.type(event("-Pause"));
    EXPECT_EQ(calls, "DU");
    EXPECT_FALSE(hotkey.typedKeys()) << "a fake monitor does not see typing";
}

} // namespace
} // namespace vozmo
