#include "phrases.h"

#include "lexicon.h"

#include <algorithm>
#include <string_view>

namespace vozmo::Polisher::faithful {

namespace {

// Whether the marker phrase at t[i, i+n) is used as a self-correction here, not as the plain
// word ("el mejor", "te digo que", "pedir perdón").
bool correctsHere(const Words& t, std::size_t i, std::size_t n) {
    std::string_view last = t[i + n - 1].key;
    std::string_view before = i > 0 ? std::string_view(t[i - 1].key) : std::string_view();
    std::string_view after = i + n < t.size() ? std::string_view(t[i + n].key) : std::string_view();
    if (n == 1 && last == "mejor") {
        return !anyOf(before, {"el",  "la",       "lo",    "los",   "las",     "mi",    "tu",
                               "su",  "mis",      "tus",   "sus",   "muy",     "mucho", "algo",
                               "es",  "esta",     "estoy", "estas", "estamos", "sera",  "seria",
                               "vez", "bastante", "poco",  "nada"}) &&
               !anyOf(after, {"que", "de"});
    }
    if (last == "digo" || last == "corrijo") {
        return (n > 1 || !anyOf(before, {"te", "le", "lo", "la", "les", "se", "me", "os", "nos",
                                         "ya", "yo", "como"})) &&
               !anyOf(after, {"que", "yo"});
    }
    if (last == "perdon") {
        return !before.starts_with("pid") && !before.starts_with("ped") && after != "por";
    }
    return true;
}

} // namespace

void markFillers(Words& t) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (!is(t[i], startsPhrase)) {
            continue;
        }
        std::size_t n = std::max(longestPhraseAt(t, i, fillerPhrases()),
                                 longestPhraseAt(t, i, layoutPhrases()));
        for (std::size_t k = i; k < i + n; ++k) {
            t[k].filler = true;
        }
    }
}

std::vector<Correction> corrections(const Words& t) {
    std::vector<Correction> out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (!is(t[i], startsPhrase)) {
            continue;
        }
        std::size_t n = longestPhraseAt(t, i, correctionMarkers());
        if (n == 0 || !correctsHere(t, i, n)) {
            continue;
        }
        if (std::all_of(t.begin() + std::ptrdiff_t(i), t.begin() + std::ptrdiff_t(i + n),
                        [](const Word& w) { return w.filler; })) {
            continue; // "lo que quiero decir es que" is a filler, not a correction
        }
        std::size_t repair = i + n;
        while (repair < t.size() && t[repair].filler) {
            ++repair;
        }
        if (repair < t.size()) {
            out.push_back({i, i + n, repair});
        }
        i += n - 1;
    }
    return out;
}

} // namespace vozmo::Polisher::faithful
