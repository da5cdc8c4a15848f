#include "spoken_numbers.h"

#include "lexicon.h"
#include "tokenizer.h"

#include <cstdint>

namespace vozmo::Polisher::faithful {

namespace {

bool singleDigit(const Word& w) {
    const NumberWord* n = numberWord(w);
    return n && n->kind == Num::unit && w.key != "un" && w.key != "una";
}

// Dictated digit by digit, as codes and telephone numbers are: "seis uno dos".
std::pair<std::string, std::size_t> digitByDigit(const Words& t, std::size_t i) {
    std::string value;
    for (; i < t.size() && singleDigit(t[i]); ++i) {
        value += char('0' + numberWord(t[i])->value);
    }
    return {value, i};
}

// A cardinal said the usual way ("trescientos cuarenta y dos", "un millón doscientos mil"),
// read word by word: each word must fit after the one before.
class Cardinal {
public:
    // Whether the word extends the number; when it does, its value is added.
    bool take(const Word& w, const Word* next, bool first) {
        if (w.kind == Kind::number) {
            return takeDigitsBeforeMagnitude(w, next, first);
        }
        if (w.kind == Kind::word && w.key == "y") {
            const NumberWord* n = next ? numberWord(*next) : nullptr;
            if (last_ == Last::ten && n && n->kind == Num::unit) {
                last_ = Last::tenAnd;
                return true;
            }
            return false;
        }
        const NumberWord* n = numberWord(w);
        if (!n || !fits(n->kind)) {
            return false;
        }
        add(*n);
        return true;
    }

    std::uint64_t value() const { return total_ + current_; }

private:
    enum class Last { none, unit, teen, ten, tenAnd, hundred, thousand, million };

    // "3 millones", "2 mil": digits before a spoken magnitude.
    bool takeDigitsBeforeMagnitude(const Word& w, const Word* next, bool first) {
        const NumberWord* n = next ? numberWord(*next) : nullptr;
        if (!first || !isInteger(w.key) || w.key.size() > 3 || !n ||
            (n->kind != Num::thousand && n->kind != Num::million)) {
            return false;
        }
        current_ = std::stoul(w.key);
        last_ = Last::teen;
        return true;
    }

    bool fits(Num kind) const {
        switch (kind) {
        case Num::unit:
            return last_ == Last::none || last_ == Last::tenAnd || last_ == Last::hundred ||
                   last_ == Last::thousand || last_ == Last::million;
        case Num::teen:
        case Num::ten:
            return last_ == Last::none || last_ == Last::hundred || last_ == Last::thousand ||
                   last_ == Last::million;
        case Num::hundred:
            return last_ == Last::none || last_ == Last::thousand || last_ == Last::million;
        case Num::thousand:
            return !thousands_ && last_ != Last::thousand && last_ != Last::million &&
                   last_ != Last::tenAnd;
        case Num::million:
            return !millions_ && last_ != Last::none && last_ != Last::million &&
                   last_ != Last::tenAnd;
        }
        return false;
    }

    void add(const NumberWord& n) {
        switch (n.kind) {
        case Num::unit:
            last_ = Last::unit;
            current_ += n.value;
            break;
        case Num::teen:
            last_ = Last::teen;
            current_ += n.value;
            break;
        case Num::ten:
            last_ = Last::ten;
            current_ += n.value;
            break;
        case Num::hundred:
            last_ = Last::hundred;
            current_ += n.value;
            break;
        case Num::thousand:
            last_ = Last::thousand;
            total_ += (current_ == 0 ? 1 : current_) * 1000;
            current_ = 0;
            thousands_ = true;
            break;
        case Num::million:
            last_ = Last::million;
            total_ = (total_ + current_) * 1000000;
            current_ = 0;
            millions_ = true;
            thousands_ = false;
            break;
        }
    }

    Last last_ = Last::none;
    std::uint64_t total_ = 0;
    std::uint64_t current_ = 0;
    bool thousands_ = false;
    bool millions_ = false;
};

std::optional<std::pair<std::string, std::size_t>> cardinal(const Words& t, std::size_t i) {
    Cardinal number;
    std::size_t j = i;
    for (; j < t.size(); ++j) {
        const Word* next = j + 1 < t.size() ? &t[j + 1] : nullptr;
        if (!number.take(t[j], next, j == i)) {
            break;
        }
    }
    if (j == i || (j == i + 1 && numberWord(t[i]) && numberWord(t[i])->value == 1)) {
        return std::nullopt; // nothing, or an article or pronoun ("un", "una", "uno")
    }
    return std::pair{std::to_string(number.value()), j};
}

} // namespace

std::optional<std::pair<std::string, std::size_t>> spokenNumber(const Words& t, std::size_t i,
                                                                bool decimals) {
    std::optional<std::pair<std::string, std::size_t>> whole;
    if (singleDigit(t[i]) && i + 1 < t.size() && singleDigit(t[i + 1])) {
        whole = digitByDigit(t, i);
    } else {
        whole = cardinal(t, i);
    }
    if (!whole) {
        return std::nullopt;
    }
    // "dos coma cinco"; "diecinueve con noventa y nueve" is a price, 19,99.
    const std::size_t j = whole->second;
    if (decimals && j + 1 < t.size() && t[j].kind == Kind::word &&
        (t[j].key == "coma" || t[j].key == "con")) {
        auto fraction = spokenNumber(t, j + 1, false);
        if (!fraction && singleDigit(t[j + 1])) {
            fraction = std::pair{std::string(1, char('0' + numberWord(t[j + 1])->value)), j + 2};
        }
        if (fraction && (t[j].key == "coma" || fraction->first.size() == 2)) {
            return std::pair{whole->first + "." + fraction->first, fraction->second};
        }
    }
    return whole;
}

Words withNumbers(Words t) {
    Words out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size();) {
        if (t[i].kind == Kind::word && t[i].key == "por" && i + 1 < t.size() &&
            t[i + 1].key == "ciento") {
            out.push_back(Word{"%", Kind::word, false, false});
            i += 2;
            continue;
        }
        if (numberWord(t[i]) || t[i].kind == Kind::number) {
            if (auto number = spokenNumber(t, i)) {
                Word w{std::move(number->first), Kind::number, t[i].capital, t[i].sentenceStart};
                w.spoken = t[i].kind == Kind::word || number->second > i + 1;
                out.push_back(std::move(w));
                i = number->second;
                continue;
            }
        }
        out.push_back(std::move(t[i]));
        ++i;
    }
    return out;
}

} // namespace vozmo::Polisher::faithful
