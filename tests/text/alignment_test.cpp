// The alignment of a dictation's words with an answer's: what the cheapest path drops, adds and
// pairs, whichever of the two ways finds it.
#include "alignment.h"

#include <gtest/gtest.h>

#include <string>

namespace vozmo::Polisher::faithful {
namespace {

// The tally as the tests write it: a letter per kind of content changed (n: numbers,
// x: negation, d: date, p: name, a: added, q: dropped), then the light and similar pairs.
std::string shown(const Tally& t) {
    std::string out;
    out += t.numbers ? "n" : "";
    out += t.negation ? "x" : "";
    out += t.date ? "d" : "";
    out += t.name ? "p" : "";
    out += t.added ? "a" : "";
    out += t.dropped ? "q" : "";
    return out + " " + std::to_string(t.light) + " " + std::to_string(t.similar);
}

TEST(FaithfulAlignment, CountsWhatTheCheapestPathChanges) {
    struct Case {
        std::string raw, answer, tally;
    };
    const std::string longTail = " y luego fuimos todos juntos a cenar al restaurante de la "
                                 "esquina que tanto le gusta a mi hermana pequeña";
    const Case cases[] = {
        {"mañana te llamo", "Mañana te llamo.", " 0 0"},
        {"la casa roja", "las casas rojas", " 1 2"},
        {"compra pan", "compra pan y leche", "a 1 0"},
        {"compra pan y leche", "compra pan", "q 1 0"},
        {"no vengas mañana", "vengas mañana", "x 0 0"},
        {"vengas mañana", "no vengas mañana", "x 0 0"},
        {"quedamos el lunes", "quedamos el martes", "d 0 0"},
        {"llama a Javier hoy", "llama a Javi hoy", "p 0 0"},
        {"son 5 euros", "son 6 euros", "n 0 0"},
        {"pide un café", "pide 1 café", " 0 0"},
        {"pide dos cafés", "pide tres cafés", "n 0 0"}, // spoken numbers are numbers
        {"comemos juntos", "comes juntos", "aq 0 0"},   // a verb's person is no agreement fix
        {"hola" + longTail, "hola" + longTail + longTail, "a 9 0"},
        {"hola amigo", longTail + longTail + " hola amigo", "a 18 0"},
        {"", "", " 0 0"},
        {"hola", "", "q 0 0"},
    };
    for (const auto& c : cases) {
        const Words rw = words(c.raw), aw = words(c.answer);
        const auto r = infos(rw), a = infos(aw);
        const Tally band = alignInBand(r, a);
        EXPECT_EQ(shown(align(r, a)), c.tally) << c.raw << " -> " << c.answer;
        // The window is a shortcut: when it finds a path, it is one as cheap as the band's.
        if (auto window = alignInWindow(r, a)) {
            EXPECT_EQ(shown(*window), shown(band)) << c.raw << " -> " << c.answer;
        }
    }
    // A passage added before the dictation's words takes the path out of the window, and the
    // band decides.
    const Words rw = words("hola amigo"), aw = words(longTail + longTail + " hola amigo");
    EXPECT_FALSE(alignInWindow(infos(rw), infos(aw)));
}

TEST(FaithfulAlignment, HomophonesPairOnlyWithinTheirGroup) {
    struct Case {
        std::string raw, answer; // the last word of each is compared
        bool same;
    };
    const Case cases[] = {
        {"tubo", "tuvo", true},    {"haya", "allá", true},      {"valla", "vaya", true},
        {"echo", "hecho", true},   {"hay", "ay", true},         {"a", "ha", true},
        {"haber", "a ver", true},  {"porque", "por qué", true}, {"vaya", "haya", false},
        {"hecho", "dicho", false}, {"haber", "ver", false},     {"a", "e", false},
        {"ha", "he", false},       {"tubo", "tubos", false},
    };
    for (const auto& c : cases) {
        const Words rw = words(c.raw), aw = words(c.answer);
        const auto r = infos(rw), a = infos(aw);
        EXPECT_EQ(sameWord(r.back(), a.back()), c.same) << c.raw << " / " << c.answer;
    }
}

TEST(FaithfulAlignment, SimilarWordsDifferOnlyInGenderOrNumber) {
    struct Case {
        std::string a, b;
        bool similar;
    };
    const Case cases[] = {
        {"casa", "casas", true},   {"pagado", "pagada", true}, {"flor", "flores", true},
        {"nuevos", "nueva", true}, {"comer", "comes", false},  {"vamos", "vais", false},
        {"luz", "luces", false},   {"casa", "cosa", false},    {"casa", "casa", false},
        {"gato", "gatito", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(similar(c.a, c.b), c.similar) << c.a << " / " << c.b;
        EXPECT_EQ(similar(c.b, c.a), c.similar) << c.b << " / " << c.a;
    }
}

} // namespace
} // namespace vozmo::Polisher::faithful
