#include "faithful.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

namespace vozmo::Polisher {

namespace {

using Kind = Word::Kind;
constexpr std::size_t npos = std::size_t(-1);

// Every list holds folded words: lower case, no accents.

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

enum class Num : std::uint8_t { unit, teen, ten, hundred, thousand, million };
struct NumberWord {
    std::string_view word;
    std::uint32_t value;
    Num kind;
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

// Phrases, words separated by one blank.
// Fillers and hesitations a polish drops.
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
// Spoken layout that becomes a line break or a full stop.
constexpr std::array<std::string_view, 6> kLayout = {
    "punto y aparte", "punto y seguido", "nueva linea",
    "nuevo parrafo",  "salto de linea",  "punto final",
};
// Self-correction markers, longer phrases first so that "no perdon" wins over "perdon".
constexpr std::array<std::string_view, 11> kCorrections = {
    "no te digo",   "no perdon", "no digo", "no espera", "no mejor", "quiero decir",
    "me equivoque", "perdon",    "mejor",   "digo",      "corrijo",
};

// What the comparison knows of a word, found with one look-up.
enum Lexical : std::uint16_t {
    light = 1 << 0,
    negation = 1 << 1,
    date = 1 << 2,
    ordinal = 1 << 3,
    english = 1 << 4,
    spanish = 1 << 5,
    startsPhrase = 1 << 6,
};

struct Entry {
    std::uint16_t lexical = 0;
    std::int8_t number = -1; // index in kNumberWords
};

const Entry* lookUp(std::string_view word) {
    static const std::unordered_map<std::string_view, Entry> lexicon = [] {
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
        return out;
    }();
    auto it = lexicon.find(word);
    return it == lexicon.end() ? nullptr : &it->second;
}

bool is(const Word& w, Lexical what) {
    return w.kind == Kind::word && (w.lexical & what) != 0;
}

const NumberWord* numberWord(const Word& w) {
    return w.kind == Kind::word && w.number >= 0 ? &kNumberWords[std::size_t(w.number)] : nullptr;
}

// ---- Reading the words of a text ----

// The letter without case or accents, as a polish may change both.
UChar32 foldLetter(UChar32 c) {
    c = u_tolower(c);
    if (c < 0x80) {
        return c;
    }
    if (c >= 0xE0 && c <= 0xFF) {
        // à … ÿ; a zero keeps the letter (æ, ð, ÷, ø, þ).
        constexpr char kBase[] = "aaaaaa\0ceeeeiiii\0nooooo\0\0uuuuy\0y";
        if (char base = kBase[c - 0xE0]) {
            return base;
        }
        return c;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed;
    if (U_SUCCESS(status) && nfd->getDecomposition(c, decomposed) && !decomposed.isEmpty()) {
        return u_tolower(decomposed.char32At(0));
    }
    return c;
}

bool isLineBreak(UChar32 c) {
    return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool endsSentence(UChar32 c) {
    return c == '.' || c == '!' || c == '?' || c == ':' || c == 0xBF /* ¿ */ || c == 0xA1 /* ¡ */ ||
           c == 0x2026 /* … */ || isLineBreak(c);
}

void appendUtf8(std::string& out, UChar32 c) {
    char buffer[U8_MAX_LENGTH];
    std::int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, U8_MAX_LENGTH, c, error);
    if (!error) {
        out.append(buffer, std::size_t(length));
    }
}

// The text's code points; ill-formed bytes read as U+FFFD, which separates words.
std::u32string codePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto n = std::int32_t(std::min<std::size_t>(text.size(), INT32_MAX));
    for (std::int32_t at = 0; at < n;) {
        if (s[at] < 0x80) {
            out.push_back(s[at++]);
            continue;
        }
        UChar32 c;
        U8_NEXT(s, at, n, c);
        out.push_back(c < 0 ? 0xFFFD : char32_t(c));
    }
    return out;
}

// Character classes with a fast path for ASCII, which most of a Spanish text is.
bool isDigit(char32_t c) {
    return c < 0x80 ? c >= '0' && c <= '9' : u_isdigit(UChar32(c));
}
int digitValue(char32_t c) {
    return c < 0x80 ? int(c - '0') : u_charDigitValue(UChar32(c));
}
bool isAlpha(char32_t c) {
    return c < 0x80 ? (c | 0x20) >= 'a' && (c | 0x20) <= 'z' : u_isalpha(UChar32(c));
}
bool isUpper(char32_t c) {
    return c < 0x80 ? c >= 'A' && c <= 'Z' : u_isupper(UChar32(c)) || u_istitle(UChar32(c));
}
bool isSpace(char32_t c) {
    return c < 0x80 ? c == ' ' || (c >= '\t' && c <= '\r') : u_isWhitespace(UChar32(c));
}
bool isMark(char32_t c) {
    if (c < 0x300) {
        return false;
    }
    auto type = u_charType(UChar32(c));
    return type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK ||
           type == U_ENCLOSING_MARK;
}

// "1.500" and "1500" are one value, "2,5" is "2.5"; other shapes stay as written.
std::string canonicalNumber(const std::string& written) {
    if (written.find(':') != std::string::npos) {
        return written;
    }
    auto isThousands = [](std::string_view s) {
        // 1 to 3 digits, then groups of exactly three after each dot.
        std::size_t first = s.find('.');
        if (first == std::string_view::npos || first == 0 || first > 3) {
            return false;
        }
        for (std::size_t at = first; at < s.size(); at += 4) {
            if (s[at] != '.' || s.size() - at < 4 || (at + 4 < s.size() && s[at + 4] != '.')) {
                return false;
            }
        }
        return true;
    };
    auto undotted = [](std::string_view s) {
        std::string out;
        for (char c : s) {
            if (c != '.') {
                out += c;
            }
        }
        return out;
    };
    std::size_t comma = written.rfind(',');
    if (comma != std::string::npos) {
        std::string_view whole = std::string_view(written).substr(0, comma);
        if (whole.find(',') != std::string_view::npos) {
            return written;
        }
        std::string head = whole.find('.') == std::string_view::npos ? std::string(whole)
                           : isThousands(whole)                      ? undotted(whole)
                                                                     : std::string();
        if (head.empty()) {
            return written;
        }
        return head + "." + written.substr(comma + 1);
    }
    if (isThousands(written)) {
        return undotted(written);
    }
    return written;
}

bool isInteger(std::string_view key) {
    return !key.empty() &&
           std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Words tokens(std::string_view text) {
    const std::u32string c = codePoints(text);
    const std::size_t n = c.size();
    auto at = [&](std::size_t i) { return i < n ? c[i] : char32_t(0); };
    Words out;
    out.reserve(n / 5);
    bool sentence = true;
    bool line = true;
    auto emit = [&](Word w) {
        if (w.kind == Kind::word) {
            if (const Entry* e = lookUp(w.key)) {
                w.lexical = e->lexical;
                w.number = e->number;
            }
        }
        w.sentenceStart = sentence;
        sentence = false;
        line = false;
        out.push_back(std::move(w));
    };
    for (std::size_t i = 0; i < n;) {
        if (isDigit(c[i])) {
            std::string written;
            for (; i < n; ++i) {
                if (isDigit(c[i])) {
                    written += char('0' + digitValue(c[i]));
                } else if ((c[i] == '.' || c[i] == ',' || c[i] == ':') && isDigit(at(i + 1))) {
                    written += char(c[i]);
                } else {
                    break;
                }
            }
            // A telephone number in groups: "600 123 456", "91 234 56 78".
            auto groupAt = [&](std::size_t k) {
                std::size_t digits = 0;
                while (isDigit(at(k + digits))) {
                    ++digits;
                }
                return (digits == 2 || digits == 3) && !isDigit(at(k + digits)) ? digits : 0;
            };
            if (isInteger(written) && (written.size() == 2 || written.size() == 3)) {
                std::size_t groups = 1, end = i;
                while (at(end) == ' ' && groupAt(end + 1) != 0) {
                    end += 1 + groupAt(end + 1);
                    ++groups;
                }
                if (groups >= 3) {
                    for (; i < end; ++i) {
                        if (isDigit(c[i])) {
                            written += char('0' + digitValue(c[i]));
                        }
                    }
                }
            }
            Word w{canonicalNumber(written), Kind::number};
            bool listMark =
                line && (at(i) == '.' || at(i) == ')') && (i + 1 >= n || isSpace(c[i + 1]));
            if (listMark) {
                w.kind = Kind::listMark;
                ++i;
            }
            emit(std::move(w));
            sentence = listMark; // a list item starts like a sentence
        } else if (isAlpha(c[i])) {
            Word w;
            w.capital = isUpper(c[i]);
            for (; i < n; ++i) {
                if (c[i] < 0x80 && isAlpha(c[i])) {
                    w.key += char(c[i] | 0x20);
                } else if (isDigit(c[i])) {
                    w.key += char('0' + digitValue(c[i]));
                } else if (c[i] >= 0x80 && isAlpha(c[i])) {
                    appendUtf8(w.key, foldLetter(UChar32(c[i])));
                } else if (isMark(c[i])) {
                    // an accent written apart from its letter
                } else if ((c[i] == '\'' || c[i] == 0x2019) && isAlpha(at(i + 1))) {
                    // "O'Donnell"
                } else {
                    break;
                }
            }
            emit(std::move(w));
        } else {
            char32_t x = c[i++];
            if (x == '%') {
                emit(Word{"%"});
            } else if (x == 0x20AC) {
                emit(Word{"euros"});
            } else if (x == '&') {
                emit(Word{"y"});
            } else {
                sentence = sentence || endsSentence(UChar32(x));
                line = line || isLineBreak(UChar32(x));
            }
        }
    }
    return out;
}

// ---- Spoken numbers ----

bool singleDigit(const Word& w) {
    const NumberWord* n = numberWord(w);
    return n && n->kind == Num::unit && w.key != "un" && w.key != "una";
}

// The value of the spoken number that starts at t[i] and the index after it.
std::optional<std::pair<std::string, std::size_t>> spokenNumber(const Words& t, std::size_t i,
                                                                bool decimals = true) {
    std::string value;
    std::size_t j = i;
    if (singleDigit(t[i]) && i + 1 < t.size() && singleDigit(t[i + 1])) {
        // Dictated digit by digit, as codes and telephone numbers are: "seis uno dos".
        for (; j < t.size() && singleDigit(t[j]); ++j) {
            value += char('0' + numberWord(t[j])->value);
        }
    } else {
        enum class Last { none, unit, teen, ten, tenAnd, hundred, thousand, million };
        Last last = Last::none;
        std::uint64_t total = 0;
        std::uint64_t current = 0;
        bool thousands = false;
        bool millions = false;
        for (; j < t.size(); ++j) {
            const Word& w = t[j];
            if (w.kind == Kind::number) {
                // "3 millones", "2 mil": digits before a spoken magnitude.
                const NumberWord* next = j + 1 < t.size() ? numberWord(t[j + 1]) : nullptr;
                if (j != i || !isInteger(w.key) || w.key.size() > 3 || !next ||
                    (next->kind != Num::thousand && next->kind != Num::million)) {
                    break;
                }
                current = std::stoul(w.key);
                last = Last::teen;
                continue;
            }
            if (w.kind == Kind::word && w.key == "y") {
                const NumberWord* next = j + 1 < t.size() ? numberWord(t[j + 1]) : nullptr;
                if (last == Last::ten && next && next->kind == Num::unit) {
                    last = Last::tenAnd;
                    continue;
                }
                break;
            }
            const NumberWord* n = numberWord(w);
            if (!n) {
                break;
            }
            bool fits = false;
            switch (n->kind) {
            case Num::unit:
                fits = last == Last::none || last == Last::tenAnd || last == Last::hundred ||
                       last == Last::thousand || last == Last::million;
                break;
            case Num::teen:
            case Num::ten:
                fits = last == Last::none || last == Last::hundred || last == Last::thousand ||
                       last == Last::million;
                break;
            case Num::hundred:
                fits = last == Last::none || last == Last::thousand || last == Last::million;
                break;
            case Num::thousand:
                fits = !thousands && last != Last::thousand && last != Last::million &&
                       last != Last::tenAnd;
                break;
            case Num::million:
                fits = !millions && last != Last::none && last != Last::million &&
                       last != Last::tenAnd;
                break;
            }
            if (!fits) {
                break;
            }
            switch (n->kind) {
            case Num::unit:
                last = Last::unit;
                current += n->value;
                break;
            case Num::teen:
                last = Last::teen;
                current += n->value;
                break;
            case Num::ten:
                last = Last::ten;
                current += n->value;
                break;
            case Num::hundred:
                last = Last::hundred;
                current += n->value;
                break;
            case Num::thousand:
                last = Last::thousand;
                total += (current == 0 ? 1 : current) * 1000;
                current = 0;
                thousands = true;
                break;
            case Num::million:
                last = Last::million;
                total = (total + current) * 1000000;
                current = 0;
                millions = true;
                thousands = false;
                break;
            }
        }
        if (j == i || (j == i + 1 && numberWord(t[i]) && numberWord(t[i])->value == 1)) {
            return std::nullopt; // nothing, or an article or pronoun ("un", "una", "uno")
        }
        value = std::to_string(total + current);
    }
    // "dos coma cinco"; "diecinueve con noventa y nueve" is a price, 19,99.
    if (decimals && j + 1 < t.size() && t[j].kind == Kind::word &&
        (t[j].key == "coma" || t[j].key == "con")) {
        auto fraction = spokenNumber(t, j + 1, false);
        if (!fraction && singleDigit(t[j + 1])) {
            fraction = std::pair{std::string(1, char('0' + numberWord(t[j + 1])->value)), j + 2};
        }
        if (fraction && (t[j].key == "coma" || fraction->first.size() == 2)) {
            return std::pair{value + "." + fraction->first, fraction->second};
        }
    }
    return std::pair{value, j};
}

// Spoken numbers as one number word each, "por ciento" as "%".
Words withNumbers(Words t) {
    Words out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size();) {
        if (t[i].kind == Kind::word && t[i].key == "por" && i + 1 < t.size() &&
            t[i + 1].key == "ciento") {
            out.push_back(Word{"%", Kind::word, false, false});
            i += 2;
            continue;
        }
        if (numberWord(t[i]) || t[i].kind == Kind::number) {
            if (auto number = spokenNumber(t, i)) {
                Word w{std::move(number->first), Kind::number, t[i].capital, t[i].sentenceStart};
                w.spoken = t[i].kind == Kind::word || number->second > i + 1;
                out.push_back(std::move(w));
                i = number->second;
                continue;
            }
        }
        out.push_back(std::move(t[i]));
        ++i;
    }
    return out;
}

// ---- Comparing ----

std::uint64_t hashOf(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

// What the comparison needs of each word, computed once.
struct Info {
    const Word* word = nullptr;
    std::uint64_t hash = 0;
    std::array<std::uint64_t, 2> alt{}; // other values of "2 y medio": 2.5 and 2:30
    std::uint32_t prefix3 = 0;          // the first bytes, to rule out most pairs at once
    Kind kind_ = Kind::word;
    bool light = false, negation = false, date = false, name = false, one = false;
    bool droppable = false;
    bool plain = false; // a word that may take another ending: none of the above kinds
    Kind kind() const { return kind_; }
};

std::vector<Info> infos(const Words& words) {
    std::vector<Info> out(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Word& w = words[i];
        Info& f = out[i];
        f.word = &w;
        f.kind_ = w.kind;
        f.hash = hashOf(w.key);
        std::memcpy(&f.prefix3, w.key.data(), std::min<std::size_t>(w.key.size(), 3));
        if (w.kind == Kind::word) {
            f.light = is(w, light);
            f.negation = is(w, negation);
            f.date = is(w, date);
            f.one = w.key == "un" || w.key == "una" || w.key == "uno";
            f.name = w.capital && !w.sentenceStart && !f.light && !f.one;
            f.plain = !f.light && !f.negation && !f.date && !f.name && !f.one;
        }
    }
    return out;
}

// How many words of `phrase` match the plain words at t[i]; 0 when not all do.
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

template <std::size_t N>
std::size_t longestPhraseAt(const Words& t, std::size_t i,
                            const std::array<std::string_view, N>& phrases) {
    std::size_t best = 0;
    for (std::string_view p : phrases) {
        if (p.substr(0, p.find(' ')) == t[i].key) {
            best = std::max(best, phraseAt(t, i, p));
        }
    }
    return best;
}

void markFillers(Words& t) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (!is(t[i], startsPhrase)) {
            continue;
        }
        std::size_t n = std::max(longestPhraseAt(t, i, kFillers), longestPhraseAt(t, i, kLayout));
        for (std::size_t k = i; k < i + n; ++k) {
            t[k].filler = true;
        }
    }
}

bool anyOf(std::string_view word, std::initializer_list<std::string_view> words) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

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

struct Correction {
    std::size_t begin, end; // the marker
    std::size_t repair;     // the first word after it that is not a filler
};

std::vector<Correction> corrections(const Words& t) {
    std::vector<Correction> out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (!is(t[i], startsPhrase)) {
            continue;
        }
        std::size_t n = longestPhraseAt(t, i, kCorrections);
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

// The word after a number that starts "y medio", "y media" or "y cuarto", directly or after one
// word ("2 kilos y medio"); npos when there is none.
std::size_t halfAt(const Words& t, std::size_t p) {
    for (std::size_t y : {p + 1, p + 2}) {
        if (y + 1 < t.size() && t[y].key == "y" && t[y].kind == Kind::word &&
            anyOf(t[y + 1].key, {"medio", "media", "cuarto"}) &&
            (y == p + 1 || (t[p + 1].kind == Kind::word && t[p + 1].key != "y"))) {
            return y;
        }
    }
    return npos;
}

// The same word in another gender or number, as agreement fixes write it: "casa"/"casas",
// "pagado"/"pagada". Other endings (a verb's person or tense) change what was said.
bool similar(std::string_view a, std::string_view b) {
    std::size_t common = 0;
    while (common < a.size() && common < b.size() && a[common] == b[common]) {
        ++common;
    }
    if (common < 3) {
        return false;
    }
    std::string_view x = a.substr(common), y = b.substr(common);
    if (x > y) {
        std::swap(x, y);
    }
    constexpr std::pair<std::string_view, std::string_view> kEndings[] = {
        {"", "s"},   {"", "es"},  {"a", "o"},  {"as", "os"}, {"a", "as"},
        {"o", "os"}, {"e", "es"}, {"a", "os"}, {"as", "o"},
    };
    return std::any_of(std::begin(kEndings), std::end(kEndings),
                       [&](const auto& e) { return e.first == x && e.second == y; });
}

std::size_t count(const Words& t, Lexical what) {
    return std::size_t(
        std::count_if(t.begin(), t.end(), [&](const Word& w) { return is(w, what); }));
}

// A text mostly in the other language than the dictation: a translation.
bool otherLanguage(const Words& raw, const Words& answer) {
    auto mostly = [](const Words& t, std::size_t ours, std::size_t theirs) {
        return ours >= 2 && ours > 3 * theirs && ours * 5 >= t.size();
    };
    std::size_t rawEnglish = count(raw, english), rawSpanish = count(raw, spanish);
    std::size_t answerEnglish = count(answer, english), answerSpanish = count(answer, spanish);
    bool rawIsEnglish = mostly(raw, rawEnglish, rawSpanish);
    bool answerIsEnglish = mostly(answer, answerEnglish, answerSpanish);
    bool answerIsSpanish = mostly(answer, answerSpanish, answerEnglish);
    return (answerIsEnglish && !rawIsEnglish) || (answerIsSpanish && rawIsEnglish);
}

// Marks the words of the dictation that a faithful polish may leave out.
void markDroppable(const Words& t, std::vector<Info>& r, const std::vector<Info>& a) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        r[i].droppable = t[i].filler;
    }
    // Involuntary repetitions: the first of two equal runs of up to three words.
    for (std::size_t i = 0; i < t.size(); ++i) {
        for (std::size_t n = 1; n <= 3 && i + 2 * n <= t.size(); ++n) {
            bool repeated = true;
            for (std::size_t k = 0; k < n && repeated; ++k) {
                repeated = r[i + k].hash == r[i + n + k].hash;
            }
            if (repeated) {
                for (std::size_t k = 0; k < n; ++k) {
                    r[i + k].droppable = true;
                }
            }
        }
    }
    // A self-correction drops its marker and the words it corrects: from the nearest earlier
    // word that the repair repeats (or of the same kind: a date for a date, a number for a
    // number). Without such a word it is unclear what was corrected, and only the marker goes.
    constexpr std::size_t kReach = 8;
    std::size_t floor = 0;
    for (const Correction& c : corrections(t)) {
        for (std::size_t k = c.begin; k < c.end; ++k) {
            r[k].droppable = true;
        }
        const Info& repair = r[c.repair];
        for (std::size_t j = c.begin; j-- > std::max(floor, c.begin - std::min(c.begin, kReach));) {
            bool anchor = r[j].hash == repair.hash || (r[j].date && repair.date) ||
                          (r[j].kind() == Kind::number && repair.kind() == Kind::number);
            if (anchor) {
                for (std::size_t k = j; k < c.begin; ++k) {
                    r[k].droppable = true;
                }
                break;
            }
        }
        floor = c.repair;
    }
    // Spoken list words, when the answer is a numbered list.
    bool list =
        std::any_of(a.begin(), a.end(), [](const Info& f) { return f.kind() == Kind::listMark; });
    if (list) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i].kind != Kind::word ||
                !(is(t[i], ordinal) || anyOf(t[i].key, {"luego", "despues"}))) {
                continue;
            }
            r[i].droppable = true;
            if (i > 0 && anyOf(t[i - 1].key, {"y", "e", "en"})) {
                r[i - 1].droppable = true;
            }
            if (i + 1 < t.size() && t[i + 1].key == "lugar") {
                r[i + 1].droppable = true; // "en primer lugar"
            }
        }
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            if (phraseAt(t, i, "por ultimo")) {
                r[i].droppable = r[i + 1].droppable = true;
                if (i > 0 && t[i - 1].key == "y") {
                    r[i - 1].droppable = true;
                }
            }
        }
    }
    // "dos kilos y medio" written "2,5 kilos": "y medio" went into the number.
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind != Kind::number || !isInteger(t[i].key)) {
            continue;
        }
        std::size_t y = halfAt(t, i);
        if (y == npos) {
            continue;
        }
        bool quarter = t[y + 1].key == "cuarto";
        r[i].alt = {hashOf(t[i].key + (quarter ? ".25" : ".5")),
                    hashOf(t[i].key + (quarter ? ":15" : ":30"))};
        bool used = std::any_of(a.begin(), a.end(), [&](const Info& f) {
            return f.kind() != Kind::word && (f.hash == r[i].alt[0] || f.hash == r[i].alt[1]);
        });
        if (used) {
            r[y].droppable = r[y + 1].droppable = true;
        }
    }
}

constexpr std::uint32_t kMatch = 0, kDrop = 1, kLight = 10, kSimilar = 20, kContent = 100;
constexpr std::uint32_t kNever = 1u << 30;
// Diagonals beyond the length difference that the alignment may use; a faithful polish drops
// and adds words here and there, it does not move whole passages.
constexpr long kBand = 12;
constexpr std::size_t kMaxCells = std::size_t(1) << 21;

std::uint32_t substitution(const Info& x, const Info& y, std::uint64_t one) {
    if (x.hash == y.hash) {
        return kMatch;
    }
    if (x.kind() == Kind::number && (y.hash == x.alt[0] || y.hash == x.alt[1])) {
        return kMatch;
    }
    if ((x.one && y.kind() != Kind::word && y.hash == one) ||
        (y.one && x.kind() == Kind::number && x.hash == one)) {
        return kMatch;
    }
    if (x.light && y.light) {
        return kLight;
    }
    if (x.prefix3 == y.prefix3 && x.plain && y.plain && similar(x.word->key, y.word->key)) {
        return kSimilar;
    }
    return kNever;
}

struct Tally {
    bool numbers = false, negation = false, date = false, name = false, added = false,
         dropped = false;
    std::size_t light = 0, similar = 0;

    void lost(const Info& f) { note(f, dropped); }
    void gained(const Info& f) {
        if (f.kind() != Kind::listMark) {
            note(f, added);
        }
    }
    void note(const Info& f, bool& content) {
        if (f.kind() != Kind::word) {
            numbers = true;
        } else if (f.negation) {
            negation = true;
        } else if (f.date) {
            date = true;
        } else if (f.name) {
            name = true;
        } else if (f.light) {
            ++light;
        } else {
            content = true;
        }
    }
};

// For texts too long for the alignment: every word of the answer is somewhere in the
// dictation, and every kept word of the dictation somewhere in the answer.
Tally compareAsSets(const std::vector<Info>& r, const std::vector<Info>& a) {
    auto hashes = [](const std::vector<Info>& v) {
        std::vector<std::uint64_t> out;
        for (const Info& f : v) {
            out.push_back(f.hash);
            for (std::uint64_t alt : f.alt) {
                if (alt != 0) {
                    out.push_back(alt);
                }
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    auto rh = hashes(r), ah = hashes(a);
    Tally tally;
    for (const Info& f : a) {
        if (!f.light && !std::binary_search(rh.begin(), rh.end(), f.hash)) {
            tally.gained(f);
        }
    }
    for (const Info& f : r) {
        if (!f.light && !f.droppable && !std::binary_search(ah.begin(), ah.end(), f.hash)) {
            tally.lost(f);
        }
    }
    return tally;
}

// How the cheapest path reaches a cell of an alignment table.
enum Step : std::uint8_t { none, fromDrop, fromAdd, fromPair };

// Walks the cheapest path back from the last cell, counting what it drops, adds and pairs;
// absent when a cell on the way has no way in.
template <typename StepAt>
std::optional<Tally> tallyPath(const std::vector<Info>& r, const std::vector<Info>& a,
                               StepAt stepAt) {
    const std::uint64_t one = hashOf("1");
    Tally tally;
    for (std::size_t i = r.size(), j = a.size(); i > 0 || j > 0;) {
        switch (stepAt(i, j)) {
        case fromDrop:
            --i;
            if (!r[i].droppable) {
                tally.lost(r[i]);
            }
            break;
        case fromAdd:
            --j;
            tally.gained(a[j]);
            break;
        case fromPair: {
            --i;
            --j;
            std::uint32_t s = substitution(r[i], a[j], one);
            tally.light += s == kLight;
            tally.similar += s == kSimilar;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return tally;
}

// The cheapest alignment within a fixed band of diagonals around the length difference.
Tally alignInBand(const std::vector<Info>& r, const std::vector<Info>& a) {
    const std::size_t n = r.size(), m = a.size();
    const long lo = std::min(0L, long(m) - long(n)) - kBand;
    const long hi = std::max(0L, long(m) - long(n)) + kBand;
    const std::size_t width = std::size_t(hi - lo + 1);
    if ((n + 1) * width > kMaxCells) {
        return compareAsSets(r, a);
    }
    const std::uint64_t one = hashOf("1");
    std::vector<std::uint32_t> dropCost(n), addCost(m);
    for (std::size_t i = 0; i < n; ++i) {
        dropCost[i] = r[i].droppable ? kDrop : r[i].light ? kLight : kContent;
    }
    for (std::size_t j = 0; j < m; ++j) {
        addCost[j] = a[j].kind() == Kind::listMark ? kDrop : a[j].light ? kLight : kContent;
    }
    std::vector<std::uint32_t> cost((n + 1) * width, kNever);
    std::vector<std::uint8_t> step((n + 1) * width, none);
    auto cell = [&](std::size_t i, std::size_t j) {
        return i * width + std::size_t(long(j) - long(i) - lo);
    };
    for (std::size_t i = 0; i <= n; ++i) {
        std::size_t jFirst = std::size_t(std::max(0L, long(i) + lo));
        std::size_t jLast = std::size_t(std::min(long(m), long(i) + hi));
        for (std::size_t j = jFirst; j <= jLast; ++j) {
            std::uint32_t best = kNever;
            std::uint8_t how = none;
            if (i == 0 && j == 0) {
                best = 0;
            }
            if (i > 0 && long(j) - long(i - 1) <= hi && cost[cell(i - 1, j)] < kNever) {
                std::uint32_t c = cost[cell(i - 1, j)] + dropCost[i - 1];
                if (c < best) {
                    best = c;
                    how = fromDrop;
                }
            }
            if (j > 0 && long(j - 1) - long(i) >= lo && cost[cell(i, j - 1)] < kNever) {
                std::uint32_t c = cost[cell(i, j - 1)] + addCost[j - 1];
                if (c < best) {
                    best = c;
                    how = fromAdd;
                }
            }
            if (i > 0 && j > 0 && cost[cell(i - 1, j - 1)] < kNever) {
                std::uint32_t s = substitution(r[i - 1], a[j - 1], one);
                if (s < kNever && cost[cell(i - 1, j - 1)] + s <= best) {
                    best = cost[cell(i - 1, j - 1)] + s;
                    how = fromPair;
                }
            }
            cost[cell(i, j)] = best;
            step[cell(i, j)] = how;
        }
    }
    if (auto tally =
            tallyPath(r, a, [&](std::size_t i, std::size_t j) { return step[cell(i, j)]; })) {
        return *tally;
    }
    return compareAsSets(r, a); // unreachable: every cell of the band has a way in
}

// The cheapest alignment found row by row in a window that follows the cheapest cell of the
// row before: a faithful polish stays close to that path, and this costs a fixed width per word
// of the dictation instead of one that grows with all the fillers dropped. When the last cell
// falls outside the window, the fixed band decides.
std::optional<Tally> alignInWindow(const std::vector<Info>& r, const std::vector<Info>& a) {
    constexpr std::size_t kBehind = 4, kWidth = 28;
    const std::size_t n = r.size(), m = a.size();
    const std::uint64_t one = hashOf("1");
    auto dropCost = [&](std::size_t i) {
        return r[i].droppable ? kDrop : r[i].light ? kLight : kContent;
    };
    auto addCost = [&](std::size_t j) {
        return a[j].kind() == Kind::listMark ? kDrop : a[j].light ? kLight : kContent;
    };
    std::vector<std::uint32_t> cost((n + 1) * kWidth, kNever);
    std::vector<std::uint8_t> step((n + 1) * kWidth, none);
    std::vector<std::size_t> first(n + 1, 0);
    auto inRow = [&](std::size_t i, std::size_t j) {
        return j >= first[i] && j < first[i] + kWidth && j <= m;
    };
    auto cell = [&](std::size_t i, std::size_t j) { return i * kWidth + (j - first[i]); };
    for (std::size_t i = 0; i <= n; ++i) {
        std::uint32_t* row = &cost[i * kWidth];
        std::uint8_t* how = &step[i * kWidth];
        const std::uint32_t* above = i > 0 ? &cost[(i - 1) * kWidth] : nullptr;
        std::size_t shift = 0; // first[i] - first[i - 1]
        if (i > 0) {
            std::size_t best = 0;
            for (std::size_t k = 1; k < kWidth; ++k) {
                if (above[k] < above[best]) {
                    best = k;
                }
            }
            shift = best > kBehind ? best - kBehind : 0;
            first[i] = first[i - 1] + shift;
        }
        const std::size_t last = std::min(m, first[i] + kWidth - 1);
        for (std::size_t j = first[i]; j <= last; ++j) {
            const std::size_t k = j - first[i];
            std::uint32_t best = i == 0 && j == 0 ? 0 : kNever;
            std::uint8_t from = none;
            if (i > 0 && k + shift < kWidth && above[k + shift] < kNever) {
                best = above[k + shift] + dropCost(i - 1);
                from = fromDrop;
            }
            if (k > 0 && row[k - 1] < kNever && row[k - 1] + addCost(j - 1) < best) {
                best = row[k - 1] + addCost(j - 1);
                from = fromAdd;
            }
            // A pair can only win when the cell above and to the left is no dearer.
            if (i > 0 && j > 0 && k + shift >= 1 && k + shift - 1 < kWidth &&
                above[k + shift - 1] <= best) {
                std::uint32_t s = substitution(r[i - 1], a[j - 1], one);
                if (s < kNever && above[k + shift - 1] + s <= best) {
                    best = above[k + shift - 1] + s;
                    from = fromPair;
                }
            }
            row[k] = best;
            how[k] = from;
        }
    }
    if (!inRow(n, m) || cost[cell(n, m)] >= kNever) {
        return std::nullopt;
    }
    return tallyPath(r, a, [&](std::size_t i, std::size_t j) { return step[cell(i, j)]; });
}

Tally align(const std::vector<Info>& r, const std::vector<Info>& a) {
    if (auto tally = alignInWindow(r, a)) {
        return *tally;
    }
    return alignInBand(r, a);
}

} // namespace

Words words(std::string_view text) {
    Words out = withNumbers(tokens(text));
    markFillers(out);
    return out;
}

bool mayShrink(const Words& raw) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].filler || raw[i].spoken ||
            (i + 1 < raw.size() && raw[i].key == raw[i + 1].key)) {
            return true;
        }
    }
    return false;
}

bool hasSelfCorrection(const Words& raw) {
    return !corrections(raw).empty();
}

std::string_view contentChange(const Words& raw, const Words& answer) {
    if (otherLanguage(raw, answer)) {
        return "idioma";
    }
    std::vector<Info> r = infos(raw);
    const std::vector<Info> a = infos(answer);
    markDroppable(raw, r, a);
    const Tally tally = align(r, a);
    if (tally.numbers) {
        return "cifras";
    }
    if (tally.negation) {
        return "negacion";
    }
    if (tally.date) {
        return "fecha";
    }
    if (tally.name) {
        return "nombre";
    }
    if (tally.added) {
        return "anade";
    }
    if (tally.dropped) {
        return "quita";
    }
    // Grammar fixes touch a few small words and word endings, not a sentence's every word.
    if (tally.light > 2 + raw.size() / 10 || tally.similar > 1 + raw.size() / 8) {
        return "retoques";
    }
    return {};
}

} // namespace vozmo::Polisher
