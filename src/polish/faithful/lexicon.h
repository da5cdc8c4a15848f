#pragma once

#include "faithful.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

// The word lists the faithfulness check knows, and matching words and phrases against them.
// Every list holds folded words: lower case, no accents.
namespace vozmo::Polisher::faithful {

using Kind = Word::Kind;
inline constexpr std::size_t npos = std::size_t(-1);

enum class Num : std::uint8_t { unit, teen, ten, hundred, thousand, million };
struct NumberWord {
    std::string_view word;
    std::uint32_t value;
    Num kind;
};

// What the comparison knows of a word, found with one look-up.
enum Lexical : std::uint16_t {
    light = 1 << 0,    // article, preposition, conjunction or clitic
    negation = 1 << 1, // "no", "nunca", "sin", …
    date = 1 << 2,     // a weekday, month, "hoy", "mañana" or "ayer"
    ordinal = 1 << 3,  // a spoken list's "primero", "segundo", …
    english = 1 << 4,  // a frequent English word that is not Spanish too
    spanish = 1 << 5,  // a frequent Spanish word that is not English too
    startsPhrase = 1 << 6,
    endsHomophonePair = 1 << 7, // "ver" of "a ver", "que" of "por que"
};

struct Entry {
    std::uint16_t lexical = 0;
    std::int8_t number = -1;    // which number word, for numberWord()
    std::uint8_t homophone = 0; // its group of words that sound alike, from 1
};

// Absent for a word on no list.
const Entry* lookUp(std::string_view word);

// Whether a plain word is on the list.
inline bool is(const Word& w, Lexical what) {
    return w.kind == Kind::word && (w.lexical & what) != 0;
}

// The number word a plain word is ("veintiuno", "mil"); absent when it is none.
const NumberWord* numberWord(const Word& w);

// Phrases, words separated by one blank.
std::span<const std::string_view> fillerPhrases();     // hesitations a polish drops
std::span<const std::string_view> layoutPhrases();     // "punto y aparte", "nueva línea", …
std::span<const std::string_view> correctionMarkers(); // "no perdón", "quiero decir", …

// The homophone group that a word written as two ("a ver", "por que") shares with its one-word
// spelling ("haber", "porque"), given to the second word; 0 when the two are no such spelling.
std::uint8_t homophoneOfPair(std::string_view first, std::string_view second);

bool anyOf(std::string_view word, std::initializer_list<std::string_view> words);

// How many words of `phrase` match the plain words at t[i]; 0 when not all do.
std::size_t phraseAt(const Words& t, std::size_t i, std::string_view phrase);

// The longest of the phrases at t[i], in words; 0 when none is there.
std::size_t longestPhraseAt(const Words& t, std::size_t i,
                            std::span<const std::string_view> phrases);

} // namespace vozmo::Polisher::faithful
