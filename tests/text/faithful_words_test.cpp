// Reading a text's words for the faithfulness check: folding, punctuation, written numbers and
// the spoken phrases a polish removes.
#include "phrases.h"
#include "tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vozmo::Polisher::faithful {
namespace {

// A word as the tests write it: its key, "#" before a number, "§" before a list mark, "^" before
// a sentence start, "*" before a capital.
std::string shown(const Word& w) {
    std::string out;
    out += w.sentenceStart ? "^" : "";
    out += w.capital ? "*" : "";
    out += w.kind == Word::Kind::number ? "#" : w.kind == Word::Kind::listMark ? "§" : "";
    return out + w.key;
}

std::vector<std::string> shownTokens(std::string_view text) {
    std::vector<std::string> out;
    for (const Word& w : tokens(text)) {
        out.push_back(shown(w));
    }
    return out;
}

TEST(FaithfulWords, TokensFoldLettersAndKeepOnlyWhatPunctuationSays) {
    struct Case {
        std::string text;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"¿Qué tal? Bien, ¡gracias!", {"^*que", "tal", "^*bien", "^gracias"}},
        {"está en Ávila", {"^esta", "en", "*avila"}},
        {"Ñandú, pingüino, naïve", {"^*nandu", "pinguino", "naive"}},
        {"an\xCC\x83o y año", {"^ano", "y", "ano"}}, // a tilde written apart, then precomposed
        {"O'Donnell y O’Brien", {"^*odonnell", "y", "*obrien"}},
        {"rock 'n' roll", {"^rock", "n", "roll"}}, // quotes, not letters inside a word
        {"Ωμέγα Æsir", {"^*ωμεγα", "*æsir"}},
        {"hola\nadiós: fin… sí", {"^hola", "^adios", "^fin", "^si"}},
        {"50% de I+D & co", {"^#50", "%", "de", "*i", "*d", "y", "co"}},
        {"20 €", {"^#20", "euros"}},
        {"1.500,25 y 2,5 y 5:30h", {"^#1500.25", "y", "#2.5", "y", "#5:30", "h"}},
        {"el 91 234 56 78 y el 12 34", {"^el", "#912345678", "y", "el", "#12", "#34"}},
        {"covid19 y 3d", {"^covid19", "y", "#3", "d"}},
        {"1. pan\n2) sal 3. ya", {"^§1", "^pan", "^§2", "^sal", "#3", "^ya"}},
        {"\xFF"
         "a\xC3"
         "b",
         {"^a", "b"}}, // ill-formed bytes separate words
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shownTokens(c.text), c.words) << c.text;
    }
}

TEST(FaithfulWords, WrittenNumbersHaveOneCanonicalForm) {
    const std::pair<std::string, std::string> cases[] = {
        {"1500", "1500"},       {"1.500", "1500"}, {"1.500.000", "1500000"}, {"1.50", "1.50"},
        {"12.3456", "12.3456"}, {"2,5", "2.5"},    {"1.500,25", "1500.25"},  {"12.34,5", "12.34,5"},
        {"1,2,3", "1,2,3"},     {"5:30", "5:30"},  {"0.5", "0.5"},           {"3.4.5", "3.4.5"},
        {"1.2,5", "1.2,5"},
    };
    for (const auto& [written, canonical] : cases) {
        EXPECT_EQ(canonicalNumber(written), canonical) << written;
    }
}

TEST(FaithfulWords, FillersAndSelfCorrectionsAreFoundAsWholePhrases) {
    struct Case {
        std::string text;
        std::string fillers;                  // one 'f' or '.' per word
        std::vector<std::string> corrections; // each marker and its repair, "marker>repair"
    };
    const Case cases[] = {
        {"o sea que vale", "ff.f", {}},
        {"lo que quiero decir es que sí", "ffffff.", {}},
        {"a Juan no perdón a Luis", "......", {"no perdon>a"}},
        {"a Juan no perdón eh a Luis", "....f..", {"no perdon>a"}},
        {"en Valencia mejor en Alicante", ".....", {"mejor>en"}},
        {"es el mejor día", "....", {}},
        {"mejor que nada", "...", {}},
        {"te digo que no", "....", {}},
        {"el martes digo el miércoles", ".....", {"digo>el"}},
        {"quiero pedir perdón", "...", {}},
        {"perdón por el retraso", "....", {}},
        {"el código es este", "...f", {}},
        {"a las diez perdón", "....", {}}, // nothing after the marker to repair with
        {"punto y aparte nueva línea", "fffff", {}},
    };
    for (const auto& c : cases) {
        Words t = tokens(c.text);
        markFillers(t);
        std::string fillers;
        for (const Word& w : t) {
            fillers += w.filler ? 'f' : '.';
        }
        EXPECT_EQ(fillers, c.fillers) << c.text;
        std::vector<std::string> found;
        for (const Correction& k : corrections(t)) {
            std::string marker;
            for (std::size_t i = k.begin; i < k.end; ++i) {
                marker += (marker.empty() ? "" : " ") + t[i].key;
            }
            found.push_back(marker + ">" + t[k.repair].key);
        }
        EXPECT_EQ(found, c.corrections) << c.text;
    }
}

} // namespace
} // namespace vozmo::Polisher::faithful
