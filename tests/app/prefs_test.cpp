#include "config.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <vector>

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

// Rewrites the file in place (same inode), as an editor saving over it does.
void overwriteInPlace(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

TEST(Prefs, AHandEditWhileRunningIsSeenAtTheNextRead) {
    test::TempHome home;
    Prefs::setHotkey("fn");
    ASSERT_EQ(Prefs::hotkey(), "fn");
    // Same size, same inode, within the same timestamp tick as the read above.
    const std::vector<std::string> edits = {R"({"hotkey": "ro"})", R"({"hotkey": "fn"})",
                                            R"({"polish": false, "hotkey": "ropt"})",
                                            R"({"hotkey":"ropt","polish":true})"};
    const std::vector<std::string> hotkeys = {"ro", "fn", "ropt", "ropt"};
    for (std::size_t i = 0; i < edits.size(); ++i) {
        overwriteInPlace(config().prefsFile, edits[i]);
        EXPECT_EQ(Prefs::hotkey(), hotkeys[i]) << edits[i];
    }
    EXPECT_TRUE(Prefs::polish());
    std::filesystem::remove(config().prefsFile);
    EXPECT_EQ(Prefs::hotkey(), "fn"); // a removed file means the defaults again
}

TEST(Prefs, AFileThatTurnsUnreadableKeepsTheSettingsLastRead) {
    for (const char* broken : {R"({"hotkey": "fn", "pol)", "", "[]", "\xff"}) {
        test::TempHome home;
        test::writeFile(config().prefsFile, R"({"hotkey": "ropt", "polish": false})");
        ASSERT_EQ(Prefs::hotkey(), "ropt");
        overwriteInPlace(config().prefsFile, broken); // an editor halfway through saving
        EXPECT_EQ(Prefs::hotkey(), "ropt") << broken;
        EXPECT_FALSE(Prefs::polish()) << broken;
        // A change from the menu meanwhile keeps the others and puts the broken text aside.
        Prefs::setSounds(false);
        EXPECT_EQ(nlohmann::json::parse(test::readFile(config().prefsFile)),
                  nlohmann::json::parse(R"({"hotkey":"ropt","polish":false,"sounds":false})"))
            << broken;
        auto aside = config().prefsFile;
        aside += ".roto";
        EXPECT_EQ(test::readFile(aside), broken);
        // Once the file parses again it counts again.
        overwriteInPlace(config().prefsFile, R"({"hotkey": "fn"})");
        EXPECT_EQ(Prefs::hotkey(), "fn") << broken;
        EXPECT_TRUE(Prefs::polish()) << broken;
    }
}

TEST(Prefs, AnOldUnchangedFileIsStillReadCorrectly) {
    // Once the file is older than a timestamp tick its stamp alone vouches for the contents.
    test::TempHome home;
    test::writeFile(config().prefsFile, R"({"language": "auto"})");
    const auto old = std::filesystem::last_write_time(config().prefsFile) - std::chrono::hours(1);
    std::filesystem::last_write_time(config().prefsFile, old);
    ::sync();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Prefs::language(), "auto");
    }
    overwriteInPlace(config().prefsFile, R"({"language": "es00"})");
    std::filesystem::last_write_time(config().prefsFile, old); // ctime still moves
    EXPECT_EQ(Prefs::language(), "es00");
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
