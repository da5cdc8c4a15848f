#include "unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace vozmo::text {

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

struct UTextCloser {
    void operator()(UText* ut) const { utext_close(ut); }
};

// Code point starting at byte `i`; ill-formed bytes read as a negative value and still advance.
UChar32 nextCodePoint(std::string_view text, std::size_t& i) {
    UChar32 c;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t index = int32_t(i);
    U8_NEXT(bytes, index, int32_t(text.size()), c);
    i = std::size_t(index);
    return c;
}

UChar32 previousCodePoint(std::string_view text, std::size_t& end) {
    UChar32 c;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t index = int32_t(end);
    U8_PREV(bytes, 0, index, c);
    end = std::size_t(index);
    return c;
}

template <typename Pred> std::string_view trimWith(std::string_view text, Pred isTrimmed) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!isTrimmed(nextCodePoint(text, next))) {
            break;
        }
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t previous = end;
        if (!isTrimmed(previousCodePoint(text, previous))) {
            break;
        }
        end = previous;
    }
    return text.substr(begin, end - begin);
}

const icu::Normalizer2* nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? normalizer : nullptr;
}

icu::UnicodeString nfcUnicode(std::string_view text) {
    icu::UnicodeString source = toUnicode(text);
    const icu::Normalizer2* normalizer = nfcNormalizer();
    if (normalizer == nullptr) {
        return source;
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = normalizer->normalize(source, status);
    return U_SUCCESS(status) ? result : source;
}

} // namespace

std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    std::vector<std::size_t> bounds{0};
    if (text.empty()) {
        return bounds;
    }
    UErrorCode status = U_ZERO_ERROR;
    // A UTF-8 UText makes the iterator report byte offsets into `text` directly.
    std::unique_ptr<UText, UTextCloser> ut(
        utext_openUTF8(nullptr, text.data(), int64_t(text.size()), &status));
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !ut || !it) {
        // Without ICU data, fall back to code points so counts stay plausible.
        for (std::size_t i = 0; i < text.size();) {
            nextCodePoint(text, i);
            bounds.push_back(i);
        }
        return bounds;
    }
    it->setText(ut.get(), status);
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
        bounds.push_back(std::size_t(b));
    }
    if (bounds.back() != text.size()) {
        bounds.push_back(text.size());
    }
    return bounds;
}

std::size_t graphemeCount(std::string_view text) {
    return graphemeBoundaries(text).size() - 1;
}

std::string_view graphemePrefix(std::string_view text, std::size_t count) {
    auto bounds = graphemeBoundaries(text);
    if (count + 1 >= bounds.size()) {
        return text;
    }
    return text.substr(0, bounds[count]);
}

std::string_view lastGrapheme(std::string_view text) {
    auto bounds = graphemeBoundaries(text);
    if (bounds.size() < 2) {
        return {};
    }
    return text.substr(bounds[bounds.size() - 2]);
}

std::string_view dropLastGrapheme(std::string_view text) {
    return text.substr(0, text.size() - lastGrapheme(text).size());
}

std::string lowerCase(std::string_view text) {
    icu::UnicodeString u = toUnicode(text);
    u.toLower(icu::Locale::getRoot());
    return toUtf8(u);
}

std::string nfc(std::string_view text) {
    return toUtf8(nfcUnicode(text));
}

bool containsCanonical(std::string_view haystack, std::string_view needle) {
    // ICU finds no empty string, but every text contains it.
    return needle.empty() || nfcUnicode(haystack).indexOf(nfcUnicode(needle)) >= 0;
}

std::string_view trimWhitespace(std::string_view text) {
    return trimWith(text, [](UChar32 c) { return c >= 0 && u_isUWhiteSpace(c); });
}

std::string_view trimBlanks(std::string_view text) {
    return trimWith(text, [](UChar32 c) {
        return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR);
    });
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t at = i;
        UChar32 c = nextCodePoint(text, i);
        bool isBreak = c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 ||
                       c == 0x2028 || c == 0x2029;
        if (!isBreak) {
            continue;
        }
        lines.emplace_back(text.substr(start, at - start));
        if (c == '\r' && i < text.size() && text[i] == '\n') {
            ++i; // CR LF is one break
        }
        start = i;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (nextCodePoint(text, i) < 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::string_view> decimalDigitRuns(std::string_view text) {
    std::vector<std::string_view> runs;
    std::size_t runStart = std::string_view::npos;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t at = i;
        UChar32 c = nextCodePoint(text, i);
        bool digit = c >= 0 && u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
        if (digit && runStart == std::string_view::npos) {
            runStart = at;
        } else if (!digit && runStart != std::string_view::npos) {
            runs.push_back(text.substr(runStart, at - runStart));
            runStart = std::string_view::npos;
        }
    }
    if (runStart != std::string_view::npos) {
        runs.push_back(text.substr(runStart));
    }
    return runs;
}

struct Regex::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
};

std::optional<Regex> Regex::compile(std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    auto impl = std::make_shared<Impl>();
    impl->pattern.reset(icu::RegexPattern::compile(toUnicode(pattern), 0, parseError, status));
    if (U_FAILURE(status) || !impl->pattern) {
        return std::nullopt;
    }
    return Regex(std::move(impl));
}

std::string Regex::escapePattern(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    // A backslash before any ASCII punctuation or symbol makes it literal in ICU; escaping them
    // all covers every operator, whatever the flags.
    constexpr std::string_view special = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
    for (char c : literal) {
        if (special.find(c) != std::string_view::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string Regex::escapeReplacement(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() + 8);
    for (char c : literal) {
        if (c == '$' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = toUnicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher) {
        return std::string(text);
    }
    icu::UnicodeString result = matcher->replaceAll(toUnicode(replacement), status);
    return U_SUCCESS(status) ? toUtf8(result) : std::string(text);
}

std::string Regex::replaceAllLiteral(std::string_view text, std::string_view literal) const {
    return replaceAll(text, escapeReplacement(literal));
}

bool Regex::search(std::string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = toUnicode(text);
    std::unique_ptr<icu::RegexMatcher> matcher(impl_->pattern->matcher(input, status));
    return U_SUCCESS(status) && matcher && matcher->find(status) && U_SUCCESS(status);
}

} // namespace vozmo::text
