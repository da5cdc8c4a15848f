#include "config.h"
#include "temp_home.h"
#include "vocabulary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace vozmo {
namespace {

using Words = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class VocabularyFile : public ::testing::Test {
protected:
    Vocabulary loadBytes(const std::string& bytes) {
        test::writeFile(config().dictionaryPath, bytes);
        return Vocabulary::load();
    }
    test::TempHome home;
};

TEST_F(VocabularyFile, Table) {
    struct Case {
        std::string bytes;
        Words words;
        Pairs replacements;
        std::string prompt;
    };
    const Case cases[] = {
        {"guasap => WhatsApp\nJira\n",
         {"WhatsApp", "Jira"},
         {{"guasap", "WhatsApp"}},
         "Hola, ¿qué tal? Vocabulario: WhatsApp, Jira."},
        {kDictionaryTemplate, {"WhatsApp"}, {}, "Hola, ¿qué tal? Vocabulario: WhatsApp."},
        {"   # nota", {}, {}, "Hola, ¿qué tal? Bien, gracias."},
        {"C# => C sharp",
         {"C sharp"},
         {{"C#", "C sharp"}},
         "Hola, ¿qué tal? Vocabulario: C sharp."},
        {"x => y => z", {"y => z"}, {{"x", "y => z"}}, "Hola, ¿qué tal? Vocabulario: y => z."},
        {"", {}, {}, "Hola, ¿qué tal? Bien, gracias."},
        // A deletion teaches no word; nothing before the arrow drops the line.
        {"eh =>\n=> algo\n=>\n  =>  x", {}, {{"eh", ""}}, "Hola, ¿qué tal? Bien, gracias."},
        {"a=>b\na==>b\na=>>b",
         {"b", "b", ">b"},
         {{"a", "b"}, {"a=", "b"}, {"a", ">b"}},
         "Hola, ¿qué tal? Vocabulario: b, b, >b."},
        {"S.L.\nJira\nJira",
         {"S.L.", "Jira", "Jira"},
         {},
         "Hola, ¿qué tal? Vocabulario: S.L., Jira, Jira."},
        {"Nombre # no es comentario",
         {"Nombre # no es comentario"},
         {},
         "Hola, ¿qué tal? Vocabulario: Nombre # no es comentario."},
    };
    for (const auto& c : cases) {
        Vocabulary v = loadBytes(c.bytes);
        EXPECT_EQ(v.words, c.words) << c.bytes;
        EXPECT_EQ(v.replacements, c.replacements) << c.bytes;
        EXPECT_EQ(v.whisperPrompt(), c.prompt) << c.bytes;
    }
}

TEST_F(VocabularyFile, EveryLineBreakAndBlankReadsTheSame) {
    const Words words = {"Jira", "Ana Pérez"};
    const Pairs pairs = {{"guasap", "WhatsApp"}};
    const Words expectedWords = {"Jira", "Ana Pérez", "WhatsApp"};
    const std::string nbsp = "\xC2\xA0";
    const std::string emSpace = "\xE2\x80\x83";
    const std::string variants[] = {
        "Jira\nAna Pérez\nguasap => WhatsApp\n",
        "Jira\r\nAna Pérez\r\nguasap => WhatsApp\r\n",
        "Jira\rAna Pérez\rguasap => WhatsApp",
        "Jira\vAna Pérez\fguasap => WhatsApp",
        "Jira\xC2\x85"
        "Ana Pérez\xE2\x80\xA8guasap => WhatsApp\xE2\x80\xA9",
        "\n\n\tJira\t\n" + nbsp + "Ana Pérez" + nbsp + "\r\n\r\n" + emSpace + "guasap" + nbsp +
            "=>\t WhatsApp" + emSpace,
        // A byte-order mark from another editor's UTF-8 is not part of the first line.
        "\xEF\xBB\xBFJira\nAna Pérez\nguasap => WhatsApp",
    };
    for (const auto& bytes : variants) {
        Vocabulary v = loadBytes(bytes);
        EXPECT_EQ(v.words, expectedWords) << bytes;
        EXPECT_EQ(v.replacements, pairs) << bytes;
    }
    // The mark in front of a comment keeps it a comment.
    EXPECT_EQ(loadBytes("\xEF\xBB\xBF# comentario\nJira").words, Words{"Jira"});
}

TEST_F(VocabularyFile, UnreadableFilesGiveTheEmptyDictionary) {
    const auto file = config().dictionaryPath;
    // Missing.
    Vocabulary missing = Vocabulary::load();
    EXPECT_TRUE(missing.words.empty());
    EXPECT_TRUE(missing.replacements.empty());
    EXPECT_EQ(missing.whisperPrompt(), "Hola, ¿qué tal? Bien, gracias.");
    EXPECT_EQ(missing.apply("Hola Guasap"), "Hola Guasap");
    // Not UTF-8 (Latin-1 "canción").
    EXPECT_TRUE(loadBytes("Jira\ncanci\xF3n\n").words.empty());
    // A folder, and a FIFO that would block a plain read.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    EXPECT_TRUE(Vocabulary::load().words.empty());
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_TRUE(Vocabulary::load().words.empty());
    std::filesystem::remove(file);
    // No permission (root reads anyway, so only checked for other users).
    if (::geteuid() != 0) {
        test::writeFile(file, "Jira");
        std::filesystem::permissions(file, std::filesystem::perms::none);
        EXPECT_TRUE(Vocabulary::load().words.empty());
    }
}

TEST_F(VocabularyFile, LoadsFromAGivenPathAndAnewEachTime) {
    const auto other = home.path() / "otro.txt";
    test::writeFile(other, "Jira");
    EXPECT_EQ(Vocabulary::load(other).words, Words{"Jira"});
    EXPECT_EQ(loadBytes("uno").words, Words{"uno"});
    EXPECT_EQ(loadBytes("dos").words, Words{"dos"});
}

TEST_F(VocabularyFile, TemplateWrittenAtStartLoads) {
    ensureSupport();
    Vocabulary v = Vocabulary::load();
    EXPECT_EQ(v.words, Words{"WhatsApp"});
    EXPECT_TRUE(v.replacements.empty());
}

TEST(VocabularyApply, Table) {
    struct Case {
        Pairs replacements;
        std::string text, result;
    };
    const Case cases[] = {
        {{{"guasap", "WhatsApp"}}, "te escribo por Guasap.", "te escribo por WhatsApp."},
        {{{"guasap", "WhatsApp"}}, "GUASAP guasap Guasap", "WhatsApp WhatsApp WhatsApp"},
        {{{"guasap", "WhatsApp"}}, "guasapeando", "guasapeando"},
        {{{"guasap", "WhatsApp"}}, "guasap2", "guasap2"},
        {{{"guasap", "WhatsApp"}}, "2guasap", "2guasap"},
        {{{"guasap", "WhatsApp"}}, "(guasap)", "(WhatsApp)"},
        {{{"guasap", "WhatsApp"}}, "", ""},
        {{{"ok", "vale"}}, "ok, ok", "vale, vale"},
        {{{"ok", "vale"}}, "okok", "okok"},
        {{{"a", "b"}, {"b", "c"}}, "a", "c"},
        {{{"b", "c"}, {"a", "b"}}, "a", "b"}, // order matters
        // Letters of any script are word characters, so no match next to them.
        {{{"sol", "Sol"}}, "solé sol ñsol", "solé Sol ñsol"},
        {{{"jose", "José"}}, "jose_luis jose-luis", "José_luis José-luis"},
        // U+0345 folds to a letter, so case-insensitively it counts as one.
        {{{"ab", "X"}},
         "\xCD\x85"
         "ab ab\xCD\x85 ab",
         "\xCD\x85"
         "ab ab\xCD\x85 X"},
        // Case-insensitive matching folds fully and handles non-ASCII capitals.
        {{{"ávila", "Ávila"}}, "ÁVILA y ávila", "Ávila y Ávila"},
        {{{"straße", "Straße"}}, "STRASSE", "Straße"},
        // Regular-expression metacharacters in `from` are literal.
        {{{"c++", "C++"}}, "c++ y cxx", "C++ y cxx"},
        {{{"a.b", "X"}}, "a.b axb", "X axb"},
        {{{"(x)", "Y"}}, "(x) x", "Y x"},
        {{{"[a-z]+", "R"}}, "[a-z]+ abc", "R abc"},
        {{{"\\E.*\\Q", "Z"}}, "\\E.*\\Q y", "Z y"},
        {{{"^$", "D"}}, "^$ y", "D y"},
        {{{"?", "¿"}}, "qué? y ?", "qué? y ¿"}, // a letter before the first one
        // `to` is inserted exactly as written.
        {{{"precio", "$1"}}, "el precio", "el $1"},
        {{{"precio", "$0 \\1 \\\\ \\n ${x}"}}, "precio", "$0 \\1 \\\\ \\n ${x}"},
        // A deletion removes the match and leaves the blanks around it.
        {{{"eh", ""}}, "eh bueno eh", " bueno "},
        {{{"nueva línea", "\n"}}, "uno nueva línea dos", "uno \n dos"},
    };
    for (const auto& c : cases) {
        Vocabulary v;
        v.replacements = c.replacements;
        EXPECT_EQ(v.apply(c.text), c.result) << c.text << " / " << c.replacements.front().first;
    }
}

TEST_F(VocabularyFile, ApplyFollowsChangedCorrections) {
    Vocabulary v = loadBytes("guasap => WhatsApp\nyira => Jira");
    EXPECT_EQ(v.apply("guasap y yira"), "WhatsApp y Jira");
    Vocabulary copy = v;
    EXPECT_EQ(copy.apply("guasap"), "WhatsApp");
    v.replacements.emplace_back("y", "e");
    v.replacements.front().second = "WA";
    EXPECT_EQ(v.apply("guasap y yira"), "WA e Jira");
    EXPECT_EQ(copy.apply("guasap y yira"), "WhatsApp y Jira");
    v.replacements.clear();
    EXPECT_EQ(v.apply("guasap"), "guasap");
}

TEST_F(VocabularyFile, CopiesApplyConcurrently) {
    // Copies share the compiled corrections, which are completed on first use.
    Vocabulary v = loadBytes("guasap => WhatsApp\nyira => Jira\nok => vale");
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([copy = v, &wrong] {
            for (int i = 0; i < 50; ++i) {
                if (copy.apply("guasap, yira, ok") != "WhatsApp, Jira, vale") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

TEST(VocabularyApply, EmptyFromNeverMatches) {
    Vocabulary v;
    v.replacements = {{"", "X"}};
    EXPECT_EQ(v.apply("hola, que tal"), "hola, que tal");
}

} // namespace
} // namespace vozmo
