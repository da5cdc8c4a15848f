#include "config.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace vozmo {
namespace {

TEST(Prefs, EmptyStoreGivesTheDefaults) {
    test::TempHome home;
    EXPECT_TRUE(Prefs::polish());
    EXPECT_TRUE(Prefs::sounds());
    EXPECT_EQ(Prefs::hotkey(), "fn");
    EXPECT_EQ(Prefs::language(), "es");
    EXPECT_EQ(Prefs::hotkeyName(), "Fn");
    EXPECT_FALSE(Prefs::boolForKey("setupShown"));
    EXPECT_FALSE(std::filesystem::exists(config().prefsFile)); // reading writes nothing
}

TEST(Prefs, StoredValuesAreReadByType) {
    struct Case {
        const char* json;
        bool polish;
        std::string hotkey;
        std::string hotkeyName;
    };
    const Case cases[] = {
        {R"({"polish": false})", false, "fn", "Fn"},
        {R"({"polish": true})", true, "fn", "Fn"},
        {R"({"polish": 0})", false, "fn", "Fn"},
        {R"({"polish": "no"})", true, "fn", "Fn"}, // non-boolean text reads true
        {R"({"polish": null})", true, "fn", "Fn"},
        {R"({"hotkey": "ropt"})", true, "ropt", "Alt derecha"},
        {R"({"hotkey": "ROPT"})", true, "ROPT", "Fn"},
        {R"({"hotkey": true})", true, "fn", "Fn"},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        test::writeFile(config().prefsFile, c.json);
        EXPECT_EQ(Prefs::polish(), c.polish) << c.json;
        EXPECT_EQ(Prefs::hotkey(), c.hotkey) << c.json;
        EXPECT_EQ(Prefs::hotkeyName(), c.hotkeyName) << c.json;
    }
}

TEST(Prefs, CorruptOrUnreadableStoreReadsAsEmpty) {
    for (const char* bytes : {"{\"polish\": fal", "[1,2,3]", "\xff\xfe garbage", "", "42"}) {
        test::TempHome home;
        test::writeFile(config().prefsFile, bytes);
        EXPECT_TRUE(Prefs::polish()) << bytes;
        EXPECT_EQ(Prefs::language(), "es") << bytes;
        // A write replaces the broken file with a valid one.
        Prefs::setLanguage("auto");
        EXPECT_EQ(Prefs::language(), "auto") << bytes;
    }
    test::TempHome home;
    std::filesystem::create_directories(config().prefsFile); // a folder in its place
    EXPECT_TRUE(Prefs::sounds());
    Prefs::setSounds(false); // fails quietly
    EXPECT_TRUE(Prefs::sounds());
}

TEST(Prefs, AbsurdlyNestedValuesAreDroppedAndTheOtherSettingsKept) {
    // Deep enough to overflow the stack when such a value was copied or written out.
    for (const char* open : {"[", "{\"a\":"}) {
        test::TempHome home;
        const std::size_t depth = 300000;
        std::string deep;
        for (std::size_t i = 0; i < depth; ++i) {
            deep += open;
        }
        deep += "1";
        deep += std::string(depth, open[0] == '[' ? ']' : '}');
        test::writeFile(config().prefsFile, R"({"hotkey":"ropt","fnKeyVerified":)" + deep +
                                                R"(,"polish":false,"x":)" + deep + "}");
        EXPECT_EQ(Prefs::object("fnKeyVerified"), std::nullopt) << open;
        EXPECT_EQ(Prefs::hotkey(), "ropt") << open;
        Prefs::setSounds(false);
        EXPECT_FALSE(Prefs::sounds()) << open;
        EXPECT_FALSE(Prefs::polish()) << open;
        EXPECT_EQ(nlohmann::json::parse(test::readFile(config().prefsFile)),
                  nlohmann::json::parse(R"({"hotkey":"ropt","polish":false,"sounds":false})"))
            << open;
    }
    // Nesting a setting could plausibly use still reads whole.
    test::TempHome home;
    const std::string nested = std::string(20, '[') + "true" + std::string(20, ']');
    test::writeFile(config().prefsFile, R"({"v":)" + nested + "}");
    EXPECT_EQ(Prefs::object("v"), nlohmann::json::parse(nested));
}

TEST(Prefs, TogglesAndWritesKeepOtherKeys) {
    test::TempHome home;
    Prefs::toggleSounds();
    EXPECT_FALSE(Prefs::sounds());
    Prefs::toggleSounds();
    EXPECT_TRUE(Prefs::sounds());
    Prefs::setHotkey("ropt");
    Prefs::setBool("setupShown", true);
    Prefs::togglePolish();
    EXPECT_EQ(Prefs::hotkey(), "ropt");
    EXPECT_TRUE(Prefs::boolForKey("setupShown"));
    EXPECT_FALSE(Prefs::polish());
    EXPECT_TRUE(Prefs::object("sounds")->is_boolean());
}

TEST(Prefs, ValuesPersistAcrossAProcessRestart) {
    test::TempHome home;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Prefs::setPolish(false);
        Prefs::setLanguage("auto");
        Prefs::setHotkey("ropt");
        Prefs::setBool("setupShown", true);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_FALSE(Prefs::polish());
    EXPECT_EQ(Prefs::language(), "auto");
    EXPECT_EQ(Prefs::hotkeyName(), "Alt derecha");
    EXPECT_TRUE(Prefs::boolForKey("setupShown"));
    EXPECT_TRUE(Prefs::sounds());
    // Atomic writes leave no temporary file behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator(config().prefsFile.parent_path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

} // namespace
} // namespace vozmo
