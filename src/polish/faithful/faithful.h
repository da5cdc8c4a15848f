#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether a polished answer says what the dictation said: both texts as sequences of normalised
// words, aligned so that only the edits a faithful polish makes go unremarked.
namespace vozmo::Polisher {

// One word of a text, lower-cased, without accents or punctuation. Numbers, written in digits or
// spoken ("dos mil veinticinco"), are one word holding their value ("2025", "2.5", "5:30").
struct Word {
    enum class Kind : std::uint8_t { word, number, listMark };
    std::string key;
    Kind kind = Kind::word;
    bool capital = false;       // written with an initial capital
    bool sentenceStart = false; // the first word of a text, sentence, line or list item
    bool spoken = false;        // a number said in words, which digits write shorter
    bool filler = false;        // part of a hesitation or of spoken layout ("punto y aparte")
    std::uint16_t lexical = 0;  // the word lists it is on, for the comparison
    std::int8_t number = -1;    // which number word it is, for the comparison
    std::uint8_t homophone = 0; // its group of words that sound alike ("tubo", "tuvo"); 0: none
};
using Words = std::vector<Word>;

// The words of a text. A number at the start of a line followed by "." or ")" is a list mark.
Words words(std::string_view text);

// Whether the dictation corrects itself ("no, perdón", "quiero decir", …), the markers taken as
// whole words only.
bool hasSelfCorrection(const Words& raw);

// Whether a faithful polish of the dictation may be much shorter than it besides a
// self-correction: it hesitates, repeats itself or says numbers in words.
bool mayShrink(const Words& raw);

// Empty when the answer keeps the dictation's content; otherwise a short code naming the first
// kind of change found: "idioma", "cifras", "negacion", "fecha", "nombre", "anade", "quita",
// "retoques".
std::string_view contentChange(const Words& raw, const Words& answer);

} // namespace vozmo::Polisher
