#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vozmo {

// The user's dictionary (diccionario.txt): words to write exactly so, and corrections
// "heard => written". A plain value; the default is the empty dictionary.
struct Vocabulary {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> replacements;

    // Reads the dictionary anew; a missing, unreadable or non-UTF-8 file gives the empty value.
    static Vocabulary load();
    static Vocabulary load(const std::filesystem::path& file);

    // The recognition prompt that steers the recogniser towards the words.
    std::string whisperPrompt() const;

    // Applies every correction in file order: `from` matched literally, ignoring case, not
    // inside a word (no letter or digit on either side), replaced by `to` exactly as written.
    std::string apply(std::string_view text) const;

    struct Compiled;

private:
    // The corrections' patterns, compiled by load(); apply() compiles afresh when
    // `replacements` was changed since.
    std::shared_ptr<const Compiled> compiled_;
};

} // namespace vozmo
