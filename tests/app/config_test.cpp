#include "config.h"
#include "temp_home.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

TEST(SelfTestFlag, OnlyTheExactElementSelectsSelfTest) {
    struct Case {
        std::vector<std::string> args;
        bool expected;
    };
    const Case cases[] = {
        {{"vozmo"}, false},
        {{"vozmo", "--selftest"}, true},
        {{"vozmo", "-x", "--selftest", "y"}, true},
        {{"--selftest"}, true}, // the program path counts too
        {{"vozmo", "--selftest=1"}, false},
        {{"vozmo", "--SelfTest"}, false},
        {{"vozmo", "--selftest "}, false},
        {{"vozmo", "-selftest"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hasSelfTestFlag(c.args), c.expected) << ::testing::PrintToString(c.args);
    }
}

TEST(Config, PathsFollowTheXdgFolders) {
    test::TempHome home;
    const auto& c = config();
    EXPECT_EQ(c.support, home.path() / "data" / "Vozmo");
    EXPECT_EQ(c.modelsDir, c.support / "models");
    EXPECT_EQ(c.logsDir, c.support / "logs");
    EXPECT_EQ(c.dictionaryPath, c.support / "diccionario.txt");
    EXPECT_EQ(c.whisperModelPath, c.modelsDir / "whisper.bin");
    EXPECT_EQ(c.llmModelPath, c.modelsDir / "llm.gguf");
    EXPECT_EQ(c.prefsFile, home.path() / "config" / "Vozmo" / "prefs.json");
    EXPECT_EQ(WHISPER_PORT, 8178);
    EXPECT_EQ(LLM_PORT, 8179);
}

TEST(Config, WithoutXdgVariablesTheHomeDefaultsApply) {
    test::TempHome home;
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    initConfig({"vozmo"});
    EXPECT_EQ(config().support, home.path() / ".local" / "share" / "Vozmo");
    EXPECT_EQ(config().prefsFile, home.path() / ".config" / "Vozmo" / "prefs.json");
}

// Started by the `vozmo` command, the full program looks for its servers (bin/) and writes its
// login entry beside that command, not beside itself.
TEST(Config, TheLaunchersFolderIsTheProgramsFolder) {
    test::TempHome home;
    ::setenv("VOZMO_LAUNCHER", "/opt/vozmo/bin/vozmo", 1);
    initConfig({"vozmo"});
    EXPECT_EQ(config().executableDir, std::filesystem::path("/opt/vozmo/bin"));
    ::setenv("VOZMO_LAUNCHER", "relative/vozmo", 1); // ignored
    initConfig({"vozmo"});
    EXPECT_EQ(config().executableDir,
              std::filesystem::read_symlink("/proc/self/exe").parent_path());
    ::unsetenv("VOZMO_LAUNCHER");
}

TEST(Config, ModelSpecsAndChatApps) {
    test::TempHome home;
    const auto& specs = config().modelSpecs;
    ASSERT_EQ(specs.size(), 2u);
    EXPECT_EQ(specs[0].name, "Whisper");
    EXPECT_EQ(specs[0].dest, config().whisperModelPath);
    EXPECT_EQ(specs[0].minBytes, 800000000);
    EXPECT_TRUE(specs[0].url.ends_with("/ggml-large-v3-turbo-q8_0.bin"));
    EXPECT_EQ(specs[1].name, "IA de pulido");
    EXPECT_EQ(specs[1].dest, config().llmModelPath);
    EXPECT_EQ(specs[1].minBytes, 2000000000);
    EXPECT_TRUE(specs[1].url.ends_with("/Qwen3-4B-Instruct-2507-Q4_K_M.gguf"));
    for (const char* id : {"org.telegram.desktop", "com.slack.Slack", "com.discordapp.Discord",
                           "Slack", "TelegramDesktop", "discord", "WhatsApp"}) {
        EXPECT_TRUE(config().chatApps.count(id)) << id;
    }
    // Identifiers of another operating system never match a Linux window.
    EXPECT_FALSE(config().chatApps.count("com.tinyspeck.slackmacgap"));
    EXPECT_FALSE(config().chatApps.count("slack")); // identifiers are case-sensitive
}

TEST(EnsureSupport, FirstStartMakesTheTreeAndTheTemplate) {
    test::TempHome home;
    ensureSupport();
    const auto& c = config();
    EXPECT_TRUE(std::filesystem::is_directory(c.support));
    EXPECT_TRUE(std::filesystem::is_directory(c.modelsDir));
    EXPECT_TRUE(std::filesystem::is_directory(c.logsDir));
    const std::string expected =
        "# Diccionario de Vozmo\n"
        "# Escribe una palabra o nombre por l\xC3\xADnea para que se transcriba siempre "
        "as\xC3\xAD\n"
        "# (nombres propios, marcas, t\xC3\xA9rminos de tu trabajo).\n"
        "# Para corregir algo que entiende mal:  lo que entiende => lo que debe escribir\n"
        "# Las l\xC3\xADneas que empiezan por # se ignoran. Los cambios se aplican al siguiente "
        "dictado.\n"
        "# Ejemplos (quita la # para activarlos):\n"
        "# Nombre De Tu Empresa\n"
        "# guasap => WhatsApp\n"
        "WhatsApp";
    EXPECT_EQ(test::readFile(c.dictionaryPath), expected);
    // Nothing but the dictionary is left in the folder (no temporary file).
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(c.support)) {
        ++entries;
    }
    EXPECT_EQ(entries, 3);
}

TEST(EnsureSupport, NeverTouchesAnExistingDictionaryOrModels) {
    test::TempHome home;
    const auto& c = config();
    test::writeFile(c.dictionaryPath, "");
    test::writeFile(c.whisperModelPath, "model bytes");
    test::writeFile(c.logsDir / "app.log", "old log\n");
    for (int i = 0; i < 3; ++i) {
        ensureSupport();
    }
    EXPECT_EQ(test::readFile(c.dictionaryPath), "");
    EXPECT_EQ(test::readFile(c.whisperModelPath), "model bytes");
    EXPECT_EQ(test::readFile(c.logsDir / "app.log"), "old log\n");
}

TEST(EnsureSupport, AFolderThatCannotBeMadeIsSwallowed) {
    test::TempHome home;
    // A file where the support folder should be: nothing can be created, nothing throws.
    test::writeFile(config().support, "not a folder");
    ensureSupport();
    EXPECT_TRUE(std::filesystem::is_regular_file(config().support));
}

} // namespace
} // namespace vozmo
