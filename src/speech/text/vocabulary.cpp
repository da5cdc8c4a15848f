#include "vocabulary.h"

#include "config.h"
#include "unicode_text.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>

namespace vozmo {

struct Vocabulary::Compiled {
    // One correction. Its expression is compiled on first need: most corrections of a long
    // dictionary never occur in a given text, and compiling all of them on every load would cost
    // far more than applying them.
    struct Entry {
        std::string from;
        icu::UnicodeString replacement; // an ICU template that inserts `to` literally
        icu::UnicodeString foldedFrom;
        std::once_flag once;
        std::unique_ptr<icu::RegexPattern> pattern;
    };
    std::vector<std::pair<std::string, std::string>> source;
    std::vector<std::unique_ptr<Entry>> entries;
};

namespace {

icu::UnicodeString toUnicode(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), int32_t(s.size())));
}

std::shared_ptr<const Vocabulary::Compiled>
compile(const std::vector<std::pair<std::string, std::string>>& replacements) {
    auto compiled = std::make_shared<Vocabulary::Compiled>();
    compiled->source = replacements;
    compiled->entries.reserve(replacements.size());
    for (const auto& [from, to] : replacements) {
        if (from.empty()) {
            continue; // would match between every two characters; load() never yields one
        }
        auto entry = std::make_unique<Vocabulary::Compiled::Entry>();
        entry->from = from;
        entry->replacement = toUnicode(text::Regex::escapeReplacement(to));
        entry->foldedFrom = toUnicode(from).foldCase();
        compiled->entries.push_back(std::move(entry));
    }
    return compiled;
}

// "(?i)(?<![\p{L}\p{N}])" + from + "(?![\p{L}\p{N}])", with the case-insensitive flag
// scoped to `from`: under a global (?i) ICU closes the letter set over case, which makes each
// compilation cost over a millisecond. That closure adds exactly one code point to the set,
// U+0345 (a combining mark that folds to a letter), so it is listed here to keep the meaning.
const icu::RegexPattern* patternOf(Vocabulary::Compiled::Entry& entry) {
    std::call_once(entry.once, [&entry] {
        std::string pattern =
            "(?<![\\p{L}\\p{N}\\x{0345}])(?i:" + text::Regex::escapePattern(entry.from) +
            ")(?![\\p{L}\\p{N}\\x{0345}])";
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        entry.pattern.reset(icu::RegexPattern::compile(toUnicode(pattern), 0, parseError, status));
        if (U_FAILURE(status)) {
            entry.pattern.reset(); // cannot happen with an escaped literal; the entry is skipped
        }
    });
    return entry.pattern.get();
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
    std::error_code ec;
    // Only a regular file: a FIFO or device under that name would block or never end.
    if (!std::filesystem::is_regular_file(file, ec)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

Vocabulary Vocabulary::load() {
    return load(config().dictionaryPath);
}

Vocabulary Vocabulary::load(const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes || !text::isValidUtf8(*bytes)) {
        return {};
    }
    std::string_view content(*bytes);
    // Editors on other systems often start UTF-8 files with a byte-order mark; it is not part
    // of the first line (which would otherwise never be a comment).
    if (content.starts_with("\xEF\xBB\xBF")) {
        content.remove_prefix(3);
    }
    Vocabulary vocabulary;
    for (const std::string& rawLine : text::splitLines(content)) {
        std::string_view line = text::trimBlanks(rawLine);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        auto arrow = line.find("=>");
        if (arrow == std::string_view::npos) {
            vocabulary.words.emplace_back(line);
            continue;
        }
        std::string_view from = text::trimBlanks(line.substr(0, arrow));
        std::string_view to = text::trimBlanks(line.substr(arrow + 2));
        if (from.empty()) {
            continue;
        }
        vocabulary.replacements.emplace_back(std::string(from), std::string(to));
        if (!to.empty()) {
            vocabulary.words.emplace_back(to);
        }
    }
    vocabulary.compiled_ = compile(vocabulary.replacements);
    return vocabulary;
}

std::string Vocabulary::whisperPrompt() const {
    if (words.empty()) {
        return "Hola, ¿qué tal? Bien, gracias.";
    }
    std::string prompt = "Hola, ¿qué tal? Vocabulario: ";
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            prompt += ", ";
        }
        prompt += words[i];
    }
    prompt += ".";
    return prompt;
}

std::string Vocabulary::apply(std::string_view input) const {
    if (replacements.empty()) {
        return std::string(input);
    }
    std::shared_ptr<const Compiled> compiled = compiled_;
    if (!compiled || compiled->source != replacements) {
        compiled = compile(replacements);
    }
    icu::UnicodeString textU = toUnicode(input);
    icu::UnicodeString folded;
    bool foldedStale = true;
    for (const auto& entry : compiled->entries) {
        if (foldedStale) {
            folded = textU;
            folded.foldCase();
            foldedStale = false;
        }
        // A case-insensitive match implies the case-folded text contains the folded `from`,
        // so most of a long dictionary is skipped without running its expression.
        if (folded.indexOf(entry->foldedFrom) < 0) {
            continue;
        }
        const icu::RegexPattern* pattern = patternOf(*entry);
        if (pattern == nullptr) {
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(textU, status));
        if (U_FAILURE(status) || !matcher || !matcher->find(status)) {
            continue;
        }
        matcher->reset();
        icu::UnicodeString replaced = matcher->replaceAll(entry->replacement, status);
        if (U_SUCCESS(status)) {
            textU = std::move(replaced);
            foldedStale = true;
        }
    }
    std::string out;
    textU.toUTF8String(out);
    return out;
}

} // namespace vozmo
