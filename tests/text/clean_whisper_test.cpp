#include "clean_whisper.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(CleanWhisper, Table) {
    struct Case {
        std::string raw, cleaned;
    };
    const Case cases[] = {
        {"Hola\nque tal", "Hola que tal"},
        {" Hola Bruno, mañana tenemos reunión.\n No, perdón, a las doce.\n",
         "Hola Bruno, mañana tenemos reunión. No, perdón, a las doce."},
        {"[Música] Hola [aplausos]", "Hola"},
        {"Hola (risas) qué tal", "Hola qué tal"},
        {"Hola (RISAS) qué tal", "Hola qué tal"},
        {"Hola (Música de fondo) y (SILENCIO largo) fin", "Hola y fin"},
        {"(Aplausos)(music)", ""},
        {"Vale (bueno) sí", "Vale (bueno) sí"},
        {"[sin cerrar", "[sin cerrar"},
        {"(música", "(música"},
        {"a [b [c] d] e", "a d] e"}, // no nesting: the first "]" closes
        {"¡Gracias!", ""},
        {"¡GRACIAS!", ""},
        {"Gracias por ver el vídeo", ""},
        {"Subtítulos realizados por la comunidad de Amara.org", ""},
        {"SUSCRÍBETE al canal", ""},
        {"suscri\xCC\x81"
         "bete",
         ""}, // the accent as a combining mark
        {"Gracias, nos vemos", "Gracias, nos vemos"},
        {"Hola\t\tqué", "Hola\t\tqué"},
        {"uno    dos  tres", "uno dos tres"},
        {"uno\r\ndos", "uno\r dos"}, // only line feeds become blanks
        {"   ", ""},
        {" \n\t ", ""},
        {"[Música] [Aplausos]", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanWhisper(c.raw), c.cleaned) << c.raw;
    }
}

TEST(CleanWhisper, PhrasesOnlyDiscardShortTexts) {
    const std::string phrase = "gracias por ver";
    // 89 characters with the phrase: discarded; 90 or more: kept whole.
    const std::string short89 = phrase + " " + repeat("x", 89 - 16);
    const std::string long90 = phrase + " " + repeat("x", 90 - 16);
    ASSERT_EQ(short89.size(), 89u);
    EXPECT_EQ(cleanWhisper(short89), "");
    EXPECT_EQ(cleanWhisper(long90), long90);
    // Counted in characters, not bytes: 89 accented letters made of two code points each.
    const std::string accented = phrase + " " + repeat("e\xCC\x81", 89 - 16);
    EXPECT_EQ(cleanWhisper(accented), "");
    // Line breaks and annotations are removed before counting.
    EXPECT_EQ(cleanWhisper("[" + repeat("x", 100) + "] gracias por ver"), "");
}

TEST(CleanWhisper, IllFormedInputDoesNotCrash) {
    EXPECT_FALSE(cleanWhisper("Hola \xFF\xFE [x] (risas").empty());
}

} // namespace
} // namespace vozmo
