#pragma once

#include "faithful.h"

#include <string>
#include <string_view>

// Reading a text as words: folded letters (no case, no accents), digits as numbers, punctuation
// only as the start of a sentence, line or list item.
namespace vozmo::Polisher::faithful {

// The words of a text as written, numbers in digits read but spoken numbers still words.
Words tokens(std::string_view text);

// "1.500" and "1500" are one value, "2,5" is "2.5"; other shapes stay as written.
std::string canonicalNumber(const std::string& written);

// Whether the key is a run of ASCII digits.
bool isInteger(std::string_view key);

} // namespace vozmo::Polisher::faithful
