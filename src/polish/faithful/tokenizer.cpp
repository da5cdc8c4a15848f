#include "tokenizer.h"

#include "lexicon.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace vozmo::Polisher::faithful {

namespace {

// The letter without case or accents, as a polish may change both.
UChar32 foldLetter(UChar32 c) {
    c = u_tolower(c);
    if (c < 0x80) {
        return c;
    }
    if (c >= 0xE0 && c <= 0xFF) {
        // à … ÿ; a zero keeps the letter (æ, ð, ÷, ø, þ).
        constexpr char kBase[] = "aaaaaa\0ceeeeiiii\0nooooo\0\0uuuuy\0y";
        if (char base = kBase[c - 0xE0]) {
            return base;
        }
        return c;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed;
    if (U_SUCCESS(status) && nfd->getDecomposition(c, decomposed) && !decomposed.isEmpty()) {
        return u_tolower(decomposed.char32At(0));
    }
    return c;
}

bool isLineBreak(UChar32 c) {
    return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool endsSentence(UChar32 c) {
    return c == '.' || c == '!' || c == '?' || c == ':' || c == 0xBF /* ¿ */ || c == 0xA1 /* ¡ */ ||
           c == 0x2026 /* … */ || isLineBreak(c);
}

void appendUtf8(std::string& out, UChar32 c) {
    char buffer[U8_MAX_LENGTH];
    std::int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, U8_MAX_LENGTH, c, error);
    if (!error) {
        out.append(buffer, std::size_t(length));
    }
}

// The text's code points; ill-formed bytes read as U+FFFD, which separates words.
std::u32string codePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto n = std::int32_t(std::min<std::size_t>(text.size(), INT32_MAX));
    for (std::int32_t at = 0; at < n;) {
        if (s[at] < 0x80) {
            out.push_back(s[at++]);
            continue;
        }
        UChar32 c;
        U8_NEXT(s, at, n, c);
        out.push_back(c < 0 ? 0xFFFD : char32_t(c));
    }
    return out;
}

// Character classes with a fast path for ASCII, which most of a Spanish text is.
bool isDigit(char32_t c) {
    return c < 0x80 ? c >= '0' && c <= '9' : u_isdigit(UChar32(c));
}
int digitValue(char32_t c) {
    return c < 0x80 ? int(c - '0') : u_charDigitValue(UChar32(c));
}
bool isAlpha(char32_t c) {
    return c < 0x80 ? (c | 0x20) >= 'a' && (c | 0x20) <= 'z' : u_isalpha(UChar32(c));
}
bool isUpper(char32_t c) {
    return c < 0x80 ? c >= 'A' && c <= 'Z' : u_isupper(UChar32(c)) || u_istitle(UChar32(c));
}
bool isSpace(char32_t c) {
    return c < 0x80 ? c == ' ' || (c >= '\t' && c <= '\r') : u_isWhitespace(UChar32(c));
}
bool isMark(char32_t c) {
    if (c < 0x300) {
        return false;
    }
    auto type = u_charType(UChar32(c));
    return type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK ||
           type == U_ENCLOSING_MARK;
}

bool isThousands(std::string_view s) {
    // 1 to 3 digits, then groups of exactly three digits after each dot ("3.4.5" is a version).
    std::size_t first = s.find('.');
    if (first == std::string_view::npos || first == 0 || first > 3 || (s.size() - first) % 4 != 0) {
        return false;
    }
    for (std::size_t at = first; at < s.size(); ++at) {
        if ((s[at] == '.') != ((at - first) % 4 == 0)) {
            return false;
        }
    }
    return true;
}

std::string undotted(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != '.') {
            out += c;
        }
    }
    return out;
}

// One pass over the code points, remembering whether a sentence or a line has just begun.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : c_(codePoints(text)), n_(c_.size()) {
        out_.reserve(n_ / 5);
    }

    Words run() && {
        while (i_ < n_) {
            if (isDigit(c_[i_])) {
                readNumber();
            } else if (isAlpha(c_[i_])) {
                readWord();
            } else {
                readSymbol();
            }
        }
        return std::move(out_);
    }

private:
    char32_t at(std::size_t i) const { return i < n_ ? c_[i] : char32_t(0); }

    void emit(Word w) {
        if (w.kind == Kind::word) {
            if (const Entry* e = lookUp(w.key)) {
                w.lexical = e->lexical;
                w.number = e->number;
                w.homophone = e->homophone;
            }
        }
        w.sentenceStart = sentence_;
        sentence_ = false;
        line_ = false;
        out_.push_back(std::move(w));
    }

    // Digits with the separators inside a number ("1.500", "2,5", "5:30"); a telephone number
    // in groups ("600 123 456") is one number; one at the start of a line followed by "." or ")"
    // is a list mark.
    void readNumber() {
        std::string written;
        for (; i_ < n_; ++i_) {
            if (isDigit(c_[i_])) {
                written += char('0' + digitValue(c_[i_]));
            } else if ((c_[i_] == '.' || c_[i_] == ',' || c_[i_] == ':') && isDigit(at(i_ + 1))) {
                written += char(c_[i_]);
            } else {
                break;
            }
        }
        if (isInteger(written) && (written.size() == 2 || written.size() == 3)) {
            readTelephoneGroups(written);
        }
        Word w{canonicalNumber(written), Kind::number};
        bool listMark =
            line_ && (at(i_) == '.' || at(i_) == ')') && (i_ + 1 >= n_ || isSpace(at(i_ + 1)));
        if (listMark) {
            w.kind = Kind::listMark;
            ++i_;
        }
        emit(std::move(w));
        sentence_ = listMark; // a list item starts like a sentence
    }

    // The digits of a group of 2 or 3 at c[k] not followed by another digit; 0 when none is.
    std::size_t groupAt(std::size_t k) const {
        std::size_t digits = 0;
        while (isDigit(at(k + digits))) {
            ++digits;
        }
        return (digits == 2 || digits == 3) && !isDigit(at(k + digits)) ? digits : 0;
    }

    // "600 123 456", "91 234 56 78": three groups or more of 2 or 3 digits, one blank apart.
    void readTelephoneGroups(std::string& written) {
        std::size_t groups = 1, end = i_;
        while (at(end) == ' ' && groupAt(end + 1) != 0) {
            end += 1 + groupAt(end + 1);
            ++groups;
        }
        if (groups < 3) {
            return;
        }
        for (; i_ < end; ++i_) {
            if (isDigit(c_[i_])) {
                written += char('0' + digitValue(c_[i_]));
            }
        }
    }

    void readWord() {
        Word w;
        w.capital = isUpper(c_[i_]);
        for (; i_ < n_; ++i_) {
            char32_t x = c_[i_];
            if (x < 0x80 && isAlpha(x)) {
                w.key += char(x | 0x20);
            } else if (isDigit(x)) {
                w.key += char('0' + digitValue(x));
            } else if (x >= 0x80 && isAlpha(x)) {
                appendUtf8(w.key, foldLetter(UChar32(x)));
            } else if (isMark(x)) {
                // an accent written apart from its letter
            } else if ((x == '\'' || x == 0x2019) && isAlpha(at(i_ + 1))) {
                // "O'Donnell"
            } else {
                break;
            }
        }
        emit(std::move(w));
    }

    // Symbols that say a word ("%", "€", "&"); other punctuation only starts sentences and lines.
    void readSymbol() {
        char32_t x = c_[i_++];
        if (x == '%') {
            emit(Word{"%"});
        } else if (x == 0x20AC) {
            emit(Word{"euros"});
        } else if (x == '&') {
            emit(Word{"y"});
        } else {
            sentence_ = sentence_ || endsSentence(UChar32(x));
            line_ = line_ || isLineBreak(UChar32(x));
        }
    }

    const std::u32string c_;
    const std::size_t n_;
    std::size_t i_ = 0;
    Words out_;
    bool sentence_ = true;
    bool line_ = true;
};

} // namespace

Words tokens(std::string_view text) {
    return Tokenizer(text).run();
}

std::string canonicalNumber(const std::string& written) {
    if (written.find(':') != std::string::npos) {
        return written;
    }
    std::size_t comma = written.rfind(',');
    if (comma != std::string::npos) {
        std::string_view whole = std::string_view(written).substr(0, comma);
        if (whole.find(',') != std::string_view::npos) {
            return written;
        }
        std::string head = whole.find('.') == std::string_view::npos ? std::string(whole)
                           : isThousands(whole)                      ? undotted(whole)
                                                                     : std::string();
        if (head.empty()) {
            return written;
        }
        return head + "." + written.substr(comma + 1);
    }
    if (isThousands(written)) {
        return undotted(written);
    }
    return written;
}

bool isInteger(std::string_view key) {
    return !key.empty() &&
           std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace vozmo::Polisher::faithful
