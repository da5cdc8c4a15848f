#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text rules shared by cleanup, the dictionary, polishing and delivery, all on UTF-8 strings.
// Every count is in user-perceived characters (grapheme clusters). Ill-formed UTF-8 never
// crashes: its bytes are read as U+FFFD by the operations that have to decode them.
namespace vozmo::text {

// Byte offsets of every grapheme-cluster boundary, 0 and text.size() included.
std::vector<std::size_t> graphemeBoundaries(std::string_view text);
std::size_t graphemeCount(std::string_view text);
// The first `count` grapheme clusters (the whole text when it has fewer).
std::string_view graphemePrefix(std::string_view text, std::size_t count);
// The last grapheme cluster; empty for an empty text.
std::string_view lastGrapheme(std::string_view text);
// The text without its last grapheme cluster.
std::string_view dropLastGrapheme(std::string_view text);

// Full Unicode lower-casing without language rules (the root locale).
std::string lowerCase(std::string_view text);
// Canonical composition (NFC).
std::string nfc(std::string_view text);
// Substring test in which canonically equivalent sequences compare equal.
bool containsCanonical(std::string_view haystack, std::string_view needle);

// Removes Unicode white space and line breaks at both ends.
std::string_view trimWhitespace(std::string_view text);
// Removes space separators (category Zs, no-break space included) and tabs at both ends.
std::string_view trimBlanks(std::string_view text);
// Splits at every Unicode line break (LF, CR, CR LF, VT, FF, U+0085, U+2028, U+2029); empty
// pieces are kept, so a text of n breaks gives n + 1 pieces.
std::vector<std::string> splitLines(std::string_view text);

bool isValidUtf8(std::string_view text);

// The maximal runs of decimal digits (category Nd, any script), in text order.
std::vector<std::string_view> decimalDigitRuns(std::string_view text);

// A compiled ICU regular expression; cheap to copy and safe to share between threads.
class Regex {
public:
    // Absent when the pattern is not valid ICU syntax.
    static std::optional<Regex> compile(std::string_view pattern);
    // A pattern matching `literal` exactly, every metacharacter escaped.
    static std::string escapePattern(std::string_view literal);
    // A replacement template that inserts `literal` as written ("$" and "\" escaped).
    static std::string escapeReplacement(std::string_view literal);

    // Replaces every match, left to right without overlaps; `replacement` is an ICU template
    // ("$1" is a group).
    std::string replaceAll(std::string_view text, std::string_view replacement) const;
    std::string replaceAllLiteral(std::string_view text, std::string_view literal) const;
    bool search(std::string_view text) const;

    struct Impl;

private:
    explicit Regex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<const Impl> impl_;
};

} // namespace vozmo::text
