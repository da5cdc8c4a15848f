#include "lexicon.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace vozmo::Polisher::faithful {

namespace {

// Articles, prepositions, conjunctions and clitics: a polish may add, drop or swap a few of
// them to fix the grammar. "así" is here for "así que", which a polish writes for "o sea que".
constexpr std::array<std::string_view, 38> kLightWords = {
    "a",   "al", "asi", "como", "con", "de",  "del", "e",  "el",  "en",   "la",   "las", "le",
    "les", "lo", "los", "me",   "mi",  "mis", "nos", "o",  "os",  "para", "pero", "por", "que",
    "se",  "su", "sus", "te",   "tu",  "tus", "u",   "un", "una", "unas", "unos", "y",
};
constexpr std::array<std::string_view, 11> kNegations = {
    "jamas", "nada", "nadie", "ni", "ningun", "ninguna", "ninguno", "no", "nunca", "sin", "tampoco",
};
constexpr std::array<std::string_view, 23> kDates = {
    "abril",     "agosto",    "ayer",    "diciembre", "domingo",    "enero",     "febrero", "hoy",
    "jueves",    "julio",     "junio",   "lunes",     "manana",     "martes",    "marzo",   "mayo",
    "miercoles", "noviembre", "octubre", "sabado",    "septiembre", "setiembre", "viernes",
};
// Words of a spoken list that a numbered list replaces.
constexpr std::array<std::string_view, 23> kOrdinals = {
    "cuarta",  "cuarto",  "decima",  "decimo",  "finalmente", "novena",  "noveno",  "octava",
    "octavo",  "primer",  "primera", "primero", "quinta",     "quinto",  "segunda", "segundo",
    "septima", "septimo", "sexta",   "sexto",   "tercer",     "tercera", "tercero",
};
// Frequent English words that are not Spanish words too.
constexpr std::array<std::string_view, 38> kEnglish = {
    "and",  "are", "at",     "be",     "but",  "can",   "cant",  "could", "dont", "for",
    "from", "has", "have",   "i",      "im",   "in",    "is",    "it",    "my",   "not",
    "of",   "on",  "please", "should", "that", "the",   "their", "there", "they", "this",
    "to",   "we",  "what",   "will",   "with", "would", "you",   "your",
};
// Frequent Spanish words that are not English words too.
constexpr std::array<std::string_view, 16> kSpanish = {
    "con", "de",   "del", "el",  "en", "es", "la",  "las",
    "los", "para", "por", "que", "se", "su", "una", "y",
};

constexpr std::array<NumberWord, 62> kNumberWords = {{
    {"catorce", 14, Num::teen},
    {"cero", 0, Num::unit},
    {"cien", 100, Num::hundred},
    {"ciento", 100, Num::hundred},
    {"cinco", 5, Num::unit},
    {"cincuenta", 50, Num::ten},
    {"cuarenta", 40, Num::ten},
    {"cuatro", 4, Num::unit},
    {"cuatrocientas", 400, Num::hundred},
    {"cuatrocientos", 400, Num::hundred},
    {"diecinueve", 19, Num::teen},
    {"dieciocho", 18, Num::teen},
    {"dieciseis", 16, Num::teen},
    {"diecisiete", 17, Num::teen},
    {"diez", 10, Num::teen},
    {"doce", 12, Num::teen},
    {"dos", 2, Num::unit},
    {"doscientas", 200, Num::hundred},
    {"doscientos", 200, Num::hundred},
    {"mil", 1000, Num::thousand},
    {"millon", 1000000, Num::million},
    {"millones", 1000000, Num::million},
    {"novecientas", 900, Num::hundred},
    {"novecientos", 900, Num::hundred},
    {"noventa", 90, Num::ten},
    {"nueve", 9, Num::unit},
    {"ochenta", 80, Num::ten},
    {"ocho", 8, Num::unit},
    {"ochocientas", 800, Num::hundred},
    {"ochocientos", 800, Num::hundred},
    {"once", 11, Num::teen},
    {"quince", 15, Num::teen},
    {"quinientas", 500, Num::hundred},
    {"quinientos", 500, Num::hundred},
    {"seis", 6, Num::unit},
    {"seiscientas", 600, Num::hundred},
    {"seiscientos", 600, Num::hundred},
    {"sesenta", 60, Num::ten},
    {"setecientas", 700, Num::hundred},
    {"setecientos", 700, Num::hundred},
    {"setenta", 70, Num::ten},
    {"siete", 7, Num::unit},
    {"trece", 13, Num::teen},
    {"treinta", 30, Num::ten},
    {"tres", 3, Num::unit},
    {"trescientas", 300, Num::hundred},
    {"trescientos", 300, Num::hundred},
    {"un", 1, Num::unit},
    {"una", 1, Num::unit},
    {"uno", 1, Num::unit},
    {"veinte", 20, Num::teen},
    {"veinticinco", 25, Num::teen},
    {"veinticuatro", 24, Num::teen},
    {"veintidos", 22, Num::teen},
    {"veintinueve", 29, Num::teen},
    {"veintiocho", 28, Num::teen},
    {"veintiseis", 26, Num::teen},
    {"veintisiete", 27, Num::teen},
    {"veintitres", 23, Num::teen},
    {"veintiun", 21, Num::teen},
    {"veintiuna", 21, Num::teen},
    {"veintiuno", 21, Num::teen},
}};

constexpr std::array<std::string_view, 34> kFillers = {
    "a ver como te lo explico",
    "ya sabes",
    "um",
    "umm",
    "hm",
    "ejem",
    "como te lo explico",
    "lo que quiero decir es que",
    "bueno pues nada",
    "vamos a ver",
    "pues nada",
    "o sea",
    "a ver",
    "en plan",
    "eh",
    "ehh",
    "eeh",
    "ehm",
    "em",
    "emm",
    "mm",
    "mmm",
    "hmm",
    "ah",
    "uh",
    "este",
    "osea",
    "bueno",
    "pues",
    "digamos",
    "sabes",
    "mira",
    "oye",
    "vale",
};
constexpr std::array<std::string_view, 6> kLayout = {
    "punto y aparte", "punto y seguido", "nueva linea",
    "nuevo parrafo",  "salto de linea",  "punto final",
};
// Longer phrases first, so that "no perdon" wins over "perdon".
constexpr std::array<std::string_view, 11> kCorrections = {
    "no te digo",   "no perdon", "no digo", "no espera", "no mejor", "quiero decir",
    "me equivoque", "perdon",    "mejor",   "digo",      "corrijo",
};

// Words that sound alike and that speech recognition confuses; a polish may write any word of a
// group for another. Kept to groups whose words share no meaning a swap could change silently
// (no negation, number, date or name).
constexpr std::array<std::array<std::string_view, 3>, 18> kHomophones = {{
    {"haber", "aver"}, // and "a ver", see kHomophonePairs
    {"porque"},        // and "por que"
    {"echo", "hecho"},
    {"echa", "hecha"},
    {"echas", "hechas"},
    {"echos", "hechos"},
    {"halla", "haya", "alla"},
    {"hallas", "hayas"},
    {"vaya", "valla", "baya"},
    {"vayas", "vallas", "bayas"},
    {"tubo", "tuvo"},
    {"a", "ha"},
    {"hay", "ahi", "ay"},
    {"e", "he"},
    {"hola", "ola"},
    {"hasta", "asta"},
    {"vez", "ves"},
    {"cayo", "callo"},
}};
// Spellings in two words of a group's word, by the group's first word.
constexpr std::array<std::array<std::string_view, 3>, 2> kHomophonePairs = {{
    {"a", "ver", "haber"},
    {"por", "que", "porque"},
}};

std::unordered_map<std::string_view, Entry> buildLexicon() {
    std::unordered_map<std::string_view, Entry> out;
    auto flag = [&](const auto& words, std::uint16_t f) {
        for (std::string_view w : words) {
            out[w].lexical |= f;
        }
    };
    auto firstWords = [&](const auto& phrases) {
        for (std::string_view p : phrases) {
            out[p.substr(0, p.find(' '))].lexical |= startsPhrase;
        }
    };
    flag(kLightWords, light);
    flag(kNegations, negation);
    flag(kDates, date);
    flag(kOrdinals, ordinal);
    flag(kEnglish, english);
    flag(kSpanish, spanish);
    firstWords(kFillers);
    firstWords(kLayout);
    firstWords(kCorrections);
    for (std::size_t i = 0; i < kNumberWords.size(); ++i) {
        out[kNumberWords[i].word].number = std::int8_t(i);
    }
    for (const auto& pair : kHomophonePairs) {
        out[pair[1]].lexical |= endsHomophonePair;
    }
    for (std::size_t g = 0; g < kHomophones.size(); ++g) {
        for (std::string_view w : kHomophones[g]) {
            if (!w.empty()) {
                out[w].homophone = std::uint8_t(g + 1);
            }
        }
    }
    return out;
}

} // namespace

const Entry* lookUp(std::string_view word) {
    static const std::unordered_map<std::string_view, Entry> lexicon = buildLexicon();
    auto it = lexicon.find(word);
    return it == lexicon.end() ? nullptr : &it->second;
}

const NumberWord* numberWord(const Word& w) {
    return w.kind == Kind::word && w.number >= 0 ? &kNumberWords[std::size_t(w.number)] : nullptr;
}

std::span<const std::string_view> fillerPhrases() {
    return kFillers;
}
std::span<const std::string_view> layoutPhrases() {
    return kLayout;
}
std::span<const std::string_view> correctionMarkers() {
    return kCorrections;
}

std::uint8_t homophoneOfPair(std::string_view first, std::string_view second) {
    for (const auto& [a, b, word] : kHomophonePairs) {
        if (second == b && first == a) {
            const Entry* e = lookUp(word);
            return e ? e->homophone : 0;
        }
    }
    return 0;
}

bool anyOf(std::string_view word, std::initializer_list<std::string_view> words) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

std::size_t phraseAt(const Words& t, std::size_t i, std::string_view phrase) {
    std::size_t count = 0;
    while (!phrase.empty()) {
        std::size_t blank = phrase.find(' ');
        std::string_view word = phrase.substr(0, blank);
        if (i + count >= t.size() || t[i + count].kind != Kind::word || t[i + count].key != word) {
            return 0;
        }
        ++count;
        phrase = blank == std::string_view::npos ? std::string_view() : phrase.substr(blank + 1);
    }
    return count;
}

std::size_t longestPhraseAt(const Words& t, std::size_t i,
                            std::span<const std::string_view> phrases) {
    // The first word compared in place: this runs for every word that may open a phrase.
    const std::string_view key = t[i].key;
    std::size_t best = 0;
    for (std::string_view p : phrases) {
        if (p.starts_with(key) && (p.size() == key.size() || p[key.size()] == ' ')) {
            best = std::max(best, phraseAt(t, i, p));
        }
    }
    return best;
}

} // namespace vozmo::Polisher::faithful
