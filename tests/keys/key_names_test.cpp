// How a chosen dictation key is kept in prefs.json and named to the user; the values of the
// first versions read as they always did.
#include "key_names.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

TEST(KeyNames, StoredKeysReadAndNamed) {
    struct Case {
        std::string stored;
        std::vector<std::string> parts; // empty: Fn or right Alt
        std::string name;
    };
    const std::vector<Case> cases = {
        {"fn", {}, "Fn"},
        {"ropt", {}, "Alt derecha"},
        {"keys:Control_R", {"Control_R"}, "Ctrl derecha"},
        {"keys:Pause", {"Pause"}, "Pausa"},
        {"keys:F13", {"F13"}, "F13"},
        {"keys:XF86Launch5", {"XF86Launch5"}, "Launch5"},
        {"keys:Button8", {"Button8"}, "botón lateral trasero del ratón"},
        {"keys:Button12", {"Button12"}, "botón 12 del ratón"},
        {"keys:Control_L+Alt_L", {"Control_L", "Alt_L"}, "Ctrl izquierda + Alt izquierda"},
        {"keys:Super_L+Button9",
         {"Super_L", "Button9"},
         "Super izquierda + botón lateral delantero del ratón"},
        // Unreadable or hand-written values read as Fn, as before.
        {"FN", {}, "Fn"},
        {"", {}, "Fn"},
        {"keys:", {}, "Fn"},
        {"keys:Control_R+", {}, "Fn"},
        {"keys:Control_R+Control_R", {}, "Fn"},
        {"keys:a b", {}, "Fn"},
        {"keys:A+B+C+D+E", {}, "Fn"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(customHotkeyParts(c.stored), c.parts) << c.stored;
        EXPECT_EQ(hotkeyDisplayName(c.stored), c.name) << c.stored;
        if (!c.parts.empty()) {
            EXPECT_EQ(storedHotkey(c.parts), c.stored) << "and back";
        }
    }
    // The two keys of the first versions keep their stored values when chosen by pressing them.
    EXPECT_EQ(storedHotkey({"XF86WakeUp"}), Prefs::kHotkeyFn);
    EXPECT_EQ(storedHotkey({"Alt_R"}), Prefs::kHotkeyRightAlt);
}

TEST(KeyNames, ThePreferenceNamesTheChosenKey) {
    test::TempHome home;
    EXPECT_EQ(Prefs::hotkeyName(), "Fn");
    Prefs::setHotkey("keys:Menu");
    EXPECT_EQ(Prefs::hotkeyName(), "Menú");
}

} // namespace
} // namespace vozmo
