#pragma once

#include "faithful.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

// Spanish numbers said in words, read as the value digits would write.
namespace vozmo::Polisher::faithful {

// The value of the spoken number that starts at t[i] ("dos mil veinticinco" is "2025", "seis
// uno dos" said digit by digit is "612", "dos coma cinco" is "2.5") and the index after it;
// absent when none starts there, or only an article ("un", "una").
std::optional<std::pair<std::string, std::size_t>> spokenNumber(const Words& t, std::size_t i,
                                                                bool decimals = true);

// Spoken numbers as one number word each, "por ciento" as "%".
Words withNumbers(Words t);

} // namespace vozmo::Polisher::faithful
