#include "leading_space.h"

#include "desktop_support.h"
#include "fake_accessible_text.h"
#include "target_fixture.h"
#include "target_window.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <cstdlib>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

struct SpaceCase {
    const char* before;
    bool space;
};

TEST(LeadingSpaceRule, DecidesOnTheLastCharacter) {
    const SpaceCase cases[] = {
        {"", false},
        {"Hola", true},
        {"año 2024", true},
        {"Fin.", true},
        {"uno,", true},
        {"¿Qué?", true},
        {"hola:", true},
        {"(nota)", true},
        {"»", true},
        {"e\xCC\x81", true},                        // e + combining acute: one character, a letter
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", true}, // thumbs up with a skin tone
        {"hola ", false},
        {"hola\t", false},
        {"hola\n", false},
        {"hola\r\n", false},
        {"hola\xC2\xA0", false},     // no-break space
        {"hola\xE2\x80\xA8", false}, // line separator
        {"(", false},
        {"[", false},
        {"{", false},
        {"\xC2\xBF", false}, // ¿
        {"\xC2\xA1", false}, // ¡
        {"\"", false},
        {"'", false},
        {"\xC2\xAB", false}, // «
        {"dijo: \xC2\xAB", false},
    };
    for (const SpaceCase& c : cases) {
        EXPECT_EQ(needsLeadingSpaceAfter(c.before), c.space) << '"' << c.before << '"';
    }
}

TEST(LeadingSpaceRule, EveryFailureOfTheFieldIsNoSpace) {
    test::FakeAccessibleText field;
    EXPECT_FALSE(needsLeadingSpace(field));
    field.before = "";
    EXPECT_FALSE(needsLeadingSpace(field));
    field.before = "hola";
    EXPECT_TRUE(needsLeadingSpace(field));
    EXPECT_GT(field.askedFor, 0);
}

// Against a real GTK text view through the accessibility bus.
class DesktopLeadingSpace : public testing::Test {
protected:
    void SetUp() override {
        target = test::startTarget();
        ASSERT_TRUE(target);
    }
    std::unique_ptr<test::Child> target;
};

TEST_F(DesktopLeadingSpace, ReadsTheCharacterBeforeTheCaretOrTheSelection) {
    struct FieldCase {
        const char* text;
        int anchor;
        int caret; // -1: no selection
        bool space;
    };
    const FieldCase cases[] = {
        {"Hola", 0, -1, false},
        {"Hola", 4, -1, true},
        {"Hola mundo", 2, -1, true},
        {"cuesta 25", 9, -1, true},
        {"Fin.", 4, -1, true},
        {"uno,", 4, -1, true},
        {"hola ", 5, -1, false},
        {"hola\t", 5, -1, false},
        {"hola\n", 5, -1, false},
        {"(", 1, -1, false},
        {"[", 1, -1, false},
        {"{", 1, -1, false},
        {"¿", 1, -1, false},
        {"¡", 1, -1, false},
        {"\"", 1, -1, false},
        {"'", 1, -1, false},
        {"«", 1, -1, false},
        {"año ñ", 5, -1, true},
        // A selection decides by the character before its start, not by the caret.
        {"Hola mundo ", 4, 11, true},
        {"Hola mundo", 5, 10, false},
    };
    for (const FieldCase& c : cases) {
        test::setTargetText(*target, c.text, c.anchor, c.caret);
        EXPECT_EQ(needsLeadingSpace(), c.space)
            << '"' << c.text << "\" " << c.anchor << ".." << c.caret;
    }
}

TEST_F(DesktopLeadingSpace, AFocusedButtonIsNoTextField) {
    test::setTargetText(*target, "Hola", 4);
    target->send("focus-button");
    ASSERT_TRUE(target->expect("ok"));
    EXPECT_FALSE(needsLeadingSpace());
}

TEST(DesktopLeadingSpaceQt, FindsTheFocusedFieldWithoutCollectionQueries) {
    struct QtCase {
        const char* text;
        const char* caret;
        bool space;
    };
    const QtCase cases[] = {{"Hola", "4", true}, {"Hola", "0", false}, {"dijo (", "6", false}};
    for (const QtCase& c : cases) {
        test::Child target(VOZMO_QT_TEXT_TARGET, {c.text, c.caret});
        ASSERT_TRUE(target.expect("ready", 20s));
        ASSERT_TRUE(test::pumpUntil([&] {
            auto front = focusedApp();
            return front && front->pid == static_cast<pid_t>(target.pid());
        }));
        // Qt registers its tree on the bus a moment after the window shows.
        bool answered = test::pumpUntil([&] { return needsLeadingSpace() == c.space; }, 10s);
        EXPECT_TRUE(answered) << c.text << " caret " << c.caret;
    }
}

// Run in a child process of this executable: libatspi connects once per process.
TEST(NoAccessibilityBus, AnswersFalseQuickly) {
    if (std::getenv("VOZMO_TEST_NO_A11Y_CHILD") != nullptr) {
        EXPECT_FALSE(needsLeadingSpace());
        return;
    }
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("VOZMO_TEST_NO_A11Y_CHILD", "1");
    env.insert("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/vozmo-a11y");
    test::Child child(QCoreApplication::applicationFilePath(),
                      {"--gtest_filter=NoAccessibilityBus.AnswersFalseQuickly"}, env);
    auto started = std::chrono::steady_clock::now();
    // A hung D-Bus call would take its default 25 s.
    ASSERT_TRUE(child.finished(15s));
    EXPECT_EQ(child.exitCode(), 0) << child.transcript();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
}

} // namespace
} // namespace vozmo
