#include "reordering.h"

#include "lexicon.h"

#include <algorithm>
#include <array>
#include <span>

namespace vozmo::Polisher::faithful {

namespace {

using Run = std::span<const Info* const>;

constexpr std::size_t kMaxChunk = 4;

bool isPreposition(const Info& f) {
    return f.kind() == Kind::word &&
           anyOf(f.word->key, {"a", "al", "con", "de", "del", "desde", "durante", "en", "entre",
                               "hacia", "hasta", "para", "por", "segun", "sin", "sobre", "tras"});
}

bool isPartOfDay(const Info& f) {
    return f.kind() == Kind::word &&
           anyOf(f.word->key, {"manana", "madrugada", "mediodia", "tarde", "noche"});
}

// A phrase that may stand before or after the rest of its sentence and mean the same.
bool movable(Run chunk) {
    if (chunk.empty()) {
        return true;
    }
    if (chunk.size() > kMaxChunk) {
        return false;
    }
    // A date with its article, numbers and part of the day: "el 14 de marzo por la tarde".
    bool dated = std::all_of(chunk.begin(), chunk.end(), [](const Info* f) {
        return f->date || f->light || f->kind() == Kind::number || isPartOfDay(*f);
    });
    if (dated && std::any_of(chunk.begin(), chunk.end(), [](const Info* f) { return f->date; })) {
        return true;
    }
    // A phrase opened by a preposition; "sin" is the only negation it may hold.
    return isPreposition(*chunk.front()) &&
           std::none_of(chunk.begin() + 1, chunk.end(), [](const Info* f) { return f->negation; });
}

bool same(Run x, Run y) {
    return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                      [](const Info* p, const Info* q) { return sameWord(*p, *q); });
}

// Whether names, numbers and dates come in the same order on both sides.
bool sameOrderOfKeyWords(const std::vector<const Info*>& r, const std::vector<const Info*>& a) {
    auto keyWords = [](const std::vector<const Info*>& v) {
        std::vector<const Info*> out;
        for (const Info* f : v) {
            if (f->name || f->date || f->kind() != Kind::word) {
                out.push_back(f);
            }
        }
        return out;
    };
    const auto rk = keyWords(r), ak = keyWords(a);
    return same(rk, ak);
}

// Whether `a` is `r` = X1 M X2 in another order, where every chunk that moves to the other side
// of the middle M is movable.
bool rearranged(Run r, Run a) {
    const std::size_t n = r.size();
    for (std::size_t x1 = 0; x1 <= std::min(kMaxChunk, n); ++x1) {
        for (std::size_t x2 = 0; x2 <= std::min(kMaxChunk, n - x1); ++x2) {
            const Run first = r.first(x1), middle = r.subspan(x1, n - x1 - x2), last = r.last(x2);
            const bool firstMoves = movable(first), lastMoves = movable(last);
            if ((x1 == 0 && x2 == 0) || (middle.empty() && !(firstMoves && lastMoves))) {
                continue;
            }
            // The orders other than X1 M X2 and whether each needs X1 and X2 to move.
            const std::array<std::array<Run, 3>, 5> orders = {{
                {first, last, middle},
                {middle, first, last},
                {last, middle, first},
                {middle, last, first},
                {last, first, middle},
            }};
            constexpr std::array<std::array<bool, 2>, 5> moves = {{
                {false, true},
                {true, false},
                {true, true},
                {true, false},
                {false, true},
            }};
            for (std::size_t o = 0; o < orders.size(); ++o) {
                if ((moves[o][0] && !firstMoves) || (moves[o][1] && !lastMoves)) {
                    continue;
                }
                std::size_t at = 0;
                bool equal = true;
                for (Run part : orders[o]) {
                    equal = equal && same(part, a.subspan(at, part.size()));
                    at += part.size();
                }
                if (equal) {
                    return true;
                }
            }
        }
    }
    return false;
}

} // namespace

bool reordered(const std::vector<Info>& r, const std::vector<Info>& a) {
    std::vector<const Info*> kept, answer;
    for (const Info& f : r) {
        if (!f.droppable) {
            kept.push_back(&f);
        }
    }
    for (const Info& f : a) {
        if (f.kind() != Kind::listMark) {
            answer.push_back(&f);
        }
    }
    if (kept.size() != answer.size() || kept.empty() || !sameOrderOfKeyWords(kept, answer)) {
        return false;
    }
    // The moved phrases lie between the words both sides begin and end with; a word or two of
    // those may belong to a moved phrase ("el" of "el lunes").
    const std::size_t n = kept.size();
    std::size_t prefix = 0, suffix = 0;
    while (prefix < n && sameWord(*kept[prefix], *answer[prefix])) {
        ++prefix;
    }
    if (prefix == n) {
        return false; // nothing moved
    }
    while (suffix < n - prefix && sameWord(*kept[n - 1 - suffix], *answer[n - 1 - suffix])) {
        ++suffix;
    }
    const Run all(kept), other(answer);
    for (std::size_t p = prefix - std::min<std::size_t>(prefix, 2); p <= prefix; ++p) {
        for (std::size_t s = suffix - std::min<std::size_t>(suffix, 2); s <= suffix; ++s) {
            if (rearranged(all.subspan(p, n - p - s), other.subspan(p, n - p - s))) {
                return true;
            }
        }
    }
    return false;
}

} // namespace vozmo::Polisher::faithful
