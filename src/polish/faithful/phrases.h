#pragma once

#include "faithful.h"

#include <cstddef>
#include <vector>

// The spoken phrases a polish removes: hesitations, spoken layout and self-corrections.
namespace vozmo::Polisher::faithful {

// Marks the words of hesitations ("o sea", "eh") and spoken layout ("punto y aparte").
void markFillers(Words& t);

struct Correction {
    std::size_t begin, end; // the marker
    std::size_t repair;     // the first word after it that is not a filler
};

// The self-corrections of a text, in order: markers used as markers ("no, perdón, a las doce"),
// not as plain words ("el mejor", "te digo que", "pedir perdón"), with a word after them.
std::vector<Correction> corrections(const Words& t);

} // namespace vozmo::Polisher::faithful
