#include "unicode_text.h"

#include <gtest/gtest.h>

namespace vozmo::text {
namespace {

// "é" as e + combining acute, and a few clusters made of several code points.
const std::string kDecomposedE = "e\xCC\x81";
const std::string kFlagES = "\xF0\x9F\x87\xAA\xF0\x9F\x87\xB8";
const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";

TEST(Graphemes, CountsUserPerceivedCharacters) {
    struct Case {
        std::string text;
        std::size_t count;
    };
    const Case cases[] = {
        {"", 0},
        {"hola", 4},
        {"canción", 7},
        {"cafe" + kDecomposedE, 5},
        {kFlagES + kFamily, 2},
        {"a\r\nb", 3}, // CR LF is one character
        {"\xED\x95\x9C", 1},
        {"\x7F\xFF\xFE", 3}, // ill-formed bytes count, one each
    };
    for (const auto& c : cases) {
        EXPECT_EQ(graphemeCount(c.text), c.count) << c.text;
    }
}

TEST(Graphemes, PrefixLastAndDropLastKeepClustersWhole) {
    const std::string text = "ab" + kDecomposedE + kFlagES;
    EXPECT_EQ(graphemePrefix(text, 0), "");
    EXPECT_EQ(graphemePrefix(text, 3), "ab" + kDecomposedE);
    EXPECT_EQ(graphemePrefix(text, 4), text);
    EXPECT_EQ(graphemePrefix(text, 99), text);
    EXPECT_EQ(lastGrapheme(text), kFlagES);
    EXPECT_EQ(dropLastGrapheme(text), "ab" + kDecomposedE);
    EXPECT_EQ(lastGrapheme("a" + kDecomposedE), kDecomposedE);
    EXPECT_EQ(lastGrapheme(""), "");
    EXPECT_EQ(dropLastGrapheme(""), "");
}

TEST(LowerCase, FullUnicodeWithoutLanguageRules) {
    struct Case {
        std::string text, lower;
    };
    const Case cases[] = {
        {"ÁRBOL Ñandú", "árbol ñandú"},
        {"ΟΔΟΣ", "οδος"},   // final sigma by context
        {"İ", "i\xCC\x87"}, // root locale: i + combining dot, not the Turkish dotless rule
        {"ÀÉÎ 123 ¡HOLA!", "àéî 123 ¡hola!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lowerCase(c.text), c.lower) << c.text;
    }
    EXPECT_EQ(lowerCase("ΟΔΟΣ"), "οδος") << "σ at the end becomes ς";
}

TEST(ContainsCanonical, EquivalentSequencesMatch) {
    EXPECT_TRUE(containsCanonical("me gusta el caf" + kDecomposedE, "café"));
    EXPECT_TRUE(containsCanonical("café solo", "caf" + kDecomposedE));
    EXPECT_TRUE(containsCanonical("abc", ""));
    EXPECT_FALSE(containsCanonical("cafe", "café"));
    EXPECT_FALSE(containsCanonical("", "a"));
    EXPECT_EQ(nfc("caf" + kDecomposedE), "café");
}

TEST(Trim, WhitespaceAndLineBreaks) {
    struct Case {
        std::string text, trimmed;
    };
    const Case cases[] = {
        {"  hola  ", "hola"},
        {"\t\n\r\v\f hola \xC2\xA0\xE2\x80\xA8\xE2\x80\xA9\xE3\x80\x80\xC2\x85", "hola"},
        {"\xE2\x80\x8Bhola", "\xE2\x80\x8Bhola"}, // zero-width space is not white space
        {" a b ", "a b"},
        {" \n ", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trimWhitespace(c.text), c.trimmed) << c.text;
    }
}

TEST(Trim, BlanksAreSpaceSeparatorsAndTabsOnly) {
    struct Case {
        std::string text, trimmed;
    };
    const Case cases[] = {
        {" \t\xC2\xA0\xE2\x80\x83"
         "hola\xE3\x80\x80\t ",
         "hola"},
        {"\nhola\n", "\nhola\n"},                 // line breaks are not blanks
        {"\xE2\x80\xA8hola", "\xE2\x80\xA8hola"}, // nor is U+2028 (category Zl)
        {"\t\t", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trimBlanks(c.text), c.trimmed) << c.text;
    }
}

TEST(SplitLines, EveryUnicodeLineBreak) {
    using Lines = std::vector<std::string>;
    struct Case {
        std::string text;
        Lines lines;
    };
    const Case cases[] = {
        {"a", {"a"}},
        {"", {""}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}}, // LF CR is two breaks
        {"a\vb\fc", {"a", "b", "c"}},
        {"a\xC2\x85"
         "b\xE2\x80\xA8"
         "c\xE2\x80\xA9"
         "d",
         {"a", "b", "c", "d"}},
        {"a\tb\xC2\xA0"
         "c",
         {"a\tb\xC2\xA0"
          "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text;
    }
}

TEST(Utf8, Validity) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("canción " + kFamily));
    EXPECT_FALSE(isValidUtf8("canci\xF3n"));   // Latin-1
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // a surrogate
    EXPECT_FALSE(isValidUtf8("ab\xE2\x82"));   // cut short
}

TEST(DigitRuns, AnyScriptMaximalRuns) {
    using Runs = std::vector<std::string_view>;
    EXPECT_EQ(decimalDigitRuns("007 y 7, 3.14"), (Runs{"007", "7", "3", "14"}));
    EXPECT_EQ(decimalDigitRuns("sin cifras"), Runs{});
    // Arabic-Indic digits are decimal digits; superscript two and Roman twelve are not.
    EXPECT_EQ(decimalDigitRuns("\xD9\xA1\xD9\xA2x\xC2\xB2\xE2\x85\xAB"
                               "9"),
              (Runs{"\xD9\xA1\xD9\xA2", "9"}));
}

TEST(Regex, EscapedPatternMatchesEveryAsciiCharacterLiterally) {
    std::string all;
    for (char c = 0x20; c < 0x7F; ++c) {
        all += c;
    }
    auto re = Regex::compile(Regex::escapePattern(all));
    ASSERT_TRUE(re);
    EXPECT_EQ(re->replaceAll("<" + all + ">", "X"), "<X>");
    for (std::string_view literal : {"a.b", "(x)", "[a-z]+", "\\E\\Q", "^$", "a|b", "x{2}", "#"}) {
        auto single = Regex::compile(Regex::escapePattern(literal));
        ASSERT_TRUE(single) << literal;
        EXPECT_EQ(single->replaceAll(std::string("-") + std::string(literal) + "-", "_"), "-_-")
            << literal;
    }
}

TEST(Regex, ReplaceAllLeftToRightWithoutOverlaps) {
    auto re = Regex::compile("aa");
    ASSERT_TRUE(re);
    EXPECT_EQ(re->replaceAll("aaaaa", "b"), "bba");
    auto groups = Regex::compile("(\\p{L}+)-(\\p{L}+)");
    ASSERT_TRUE(groups);
    EXPECT_EQ(groups->replaceAll("uno-dos tres-cuatro", "$2-$1"), "dos-uno cuatro-tres");
    EXPECT_EQ(groups->replaceAllLiteral("uno-dos", "$2\\n$"), "$2\\n$");
    EXPECT_TRUE(groups->search("año-mes"));
    EXPECT_FALSE(groups->search("123-456"));
    EXPECT_FALSE(Regex::compile("(unclosed"));
    EXPECT_FALSE(Regex::compile("[z-a]"));
}

} // namespace
} // namespace vozmo::text
