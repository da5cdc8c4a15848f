#include "clean_whisper.h"

#include "unicode_text.h"

#include <array>

namespace vozmo {

namespace {

// Phrases the model learnt from subtitled videos and writes over silence or noise.
constexpr std::array<std::string_view, 6> kHallucinations = {
    "subtítulos realizados por", "subtitulado por", "amara.org",
    "gracias por ver",           "suscríbete",      "¡gracias!",
};

// Short transcripts only: a long dictation that mentions a phrase is real speech.
constexpr std::size_t kPhraseTestLimit = 90;

struct Patterns {
    text::Regex brackets;
    text::Regex soundNotes;
    text::Regex blankRuns;
};

const Patterns& patterns() {
    // Compiled once; the patterns are fixed and valid, and ICU patterns are shareable.
    static const Patterns compiled{
        *text::Regex::compile("\\[[^\\]]*\\]"),
        *text::Regex::compile("\\((?i:[^)]*(música|music|risas|aplausos|silencio)[^)]*)\\)"),
        *text::Regex::compile(" {2,}"),
    };
    return compiled;
}

std::string replaceLineFeeds(std::string_view raw) {
    std::string out(raw);
    for (char& c : out) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return out;
}

} // namespace

std::string cleanWhisper(std::string_view raw) {
    const Patterns& p = patterns();
    std::string s = replaceLineFeeds(raw);
    s = p.brackets.replaceAll(s, "");
    s = p.soundNotes.replaceAll(s, "");
    s = p.blankRuns.replaceAll(s, " ");
    std::string trimmed(text::trimWhitespace(s));
    if (text::graphemeCount(trimmed) < kPhraseTestLimit) {
        std::string lower = text::lowerCase(trimmed);
        for (std::string_view phrase : kHallucinations) {
            if (text::containsCanonical(lower, phrase)) {
                return {};
            }
        }
    }
    return trimmed;
}

} // namespace vozmo
