// Spanish numbers said in words, read as the digits a polish writes for them.
#include "phrases.h"
#include "spoken_numbers.h"
#include "tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vozmo::Polisher::faithful {
namespace {

// The keys after reading spoken numbers, "#" before a number said at least partly in words.
std::vector<std::string> read(std::string_view text) {
    std::vector<std::string> out;
    for (const Word& w : withNumbers(tokens(text))) {
        out.push_back((w.spoken ? "#" : "") + w.key);
    }
    return out;
}

TEST(SpokenNumbers, ReadAsTheirValue) {
    struct Case {
        std::string text;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"veintiuno", {"#21"}},
        {"veintiún años", {"#21", "anos"}},
        {"treinta y dos", {"#32"}},
        {"ciento veinte", {"#120"}},
        {"mil novecientos", {"#1900"}},
        {"mil novecientos noventa y nueve", {"#1999"}},
        {"dos mil veinticinco", {"#2025"}},
        {"doscientas mil personas", {"#200000", "personas"}},
        {"un millón doscientos mil", {"#1200000"}},
        {"dos millones trescientos mil", {"#2300000"}},
        {"2 mil y 3 millones", {"#2000", "y", "#3000000"}},
        {"1500 mil", {"1500", "#1000"}}, // digits only before a magnitude of up to three
        // Digit by digit, as codes and telephone numbers are said.
        {"cero cero siete", {"#007"}},
        {"seis uno dos", {"#612"}},
        // Decimals and prices; "con" needs the two digits of cents.
        {"tres coma catorce", {"#3.14"}},
        {"dos coma cinco por ciento", {"#2.5", "%"}},
        {"diecinueve con noventa y nueve", {"#19.99"}},
        {"cinco con dos", {"#5", "con", "#2"}},
        {"café con leche", {"cafe", "con", "leche"}},
        // Where a number stops.
        {"treinta y", {"#30", "y"}},
        {"veinte y dos", {"#20", "y", "#2"}},
        {"diez diez", {"#10", "#10"}},
        {"mil mil", {"#1000", "#1000"}},
        {"cien cien", {"#100", "#100"}},
        // Articles and pronouns are no numbers on their own.
        {"un café y una tarta", {"un", "cafe", "y", "una", "tarta"}},
        {"el uno y el otro", {"el", "uno", "y", "el", "otro"}},
        {"un mil", {"#1000"}},
        {"el 2 y el 3", {"el", "2", "y", "el", "3"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.text), c.keys) << c.text;
    }
}

} // namespace
} // namespace vozmo::Polisher::faithful
