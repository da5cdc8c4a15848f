#pragma once

#include "faithful.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Aligning the dictation's words with the answer's at the least cost, and counting what the
// cheapest alignment drops, adds and pairs.
namespace vozmo::Polisher::faithful {

std::uint64_t hashOf(std::string_view s);

// What the comparison needs of each word, computed once.
struct Info {
    const Word* word = nullptr;
    std::uint64_t hash = 0;
    // Other ways to write a number of the dictation: "2 y medio" as 2.5 and 2:30, "las 5 de la
    // tarde" as 17:00.
    std::array<std::uint64_t, 4> alt{};
    std::uint32_t prefix3 = 0; // the first bytes, to rule out most pairs at once
    Word::Kind kind_ = Word::Kind::word;
    std::uint8_t homophone = 0; // as Word::homophone, and for the second word of "a ver"
    bool light = false, negation = false, date = false, name = false, one = false;
    bool droppable = false;
    bool plain = false; // a word that may take another ending: none of the above kinds
    // A number, "un/una/uno" or a homophone: the only words with other spellings besides their
    // own (only these are given `alt`).
    bool rare = false;
    Word::Kind kind() const { return kind_; }
};

std::vector<Info> infos(const Words& words);

// Whether a word of the dictation and one of the answer say the same: the same word, another
// way to write its number, or a word that sounds alike.
bool sameWord(const Info& x, const Info& y);

// The same word in another gender or number, as agreement fixes write it: "casa"/"casas",
// "pagado"/"pagada". Other endings (a verb's person or tense) change what was said.
bool similar(std::string_view a, std::string_view b);

// What the cheapest alignment changed, by kind of word.
struct Tally {
    bool numbers = false, negation = false, date = false, name = false, added = false,
         dropped = false;
    std::size_t light = 0, similar = 0;

    void lost(const Info& f) { note(f, dropped); }
    void gained(const Info& f) {
        if (f.kind() != Word::Kind::listMark) {
            note(f, added);
        }
    }
    void note(const Info& f, bool& content);
};

// The alignment of the dictation `r` (its droppable words marked) with the answer `a`.
Tally align(const std::vector<Info>& r, const std::vector<Info>& a);

// The two ways align() finds it, for the tests: the cheapest path within a fixed band of
// diagonals (falling back on comparing the words as sets when the band would be too large),
// and a faster window that follows the cheapest cell of each row, absent when the path leaves
// the window.
Tally alignInBand(const std::vector<Info>& r, const std::vector<Info>& a);
std::optional<Tally> alignInWindow(const std::vector<Info>& r, const std::vector<Info>& a);

} // namespace vozmo::Polisher::faithful
