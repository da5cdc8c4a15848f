#include "alignment.h"

#include "lexicon.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vozmo::Polisher::faithful {

namespace {

// A homophone costs a little more than the same word, so that the alignment pairs equal words
// where it can.
constexpr std::uint32_t kMatch = 0, kDrop = 1, kHomophone = 2, kLight = 10, kSimilar = 20,
                        kContent = 100;
constexpr std::uint32_t kNever = 1u << 30;
// Diagonals beyond the length difference that the alignment may use; a faithful polish drops
// and adds words here and there, it does not move whole passages.
constexpr long kBand = 12;
constexpr std::size_t kMaxCells = std::size_t(1) << 21;

std::uint32_t substitution(const Info& x, const Info& y, std::uint64_t one) {
    if (x.hash == y.hash) {
        return kMatch;
    }
    // Most pairs are of two different plain words; one test rules out the rarer matches.
    if (x.rare) {
        if (x.alt[0] != 0 && y.kind() == Kind::number &&
            std::find(x.alt.begin(), x.alt.end(), y.hash) != x.alt.end()) {
            return kMatch;
        }
        if ((x.one && y.kind() != Kind::word && y.hash == one) ||
            (y.one && x.kind() == Kind::number && x.hash == one)) {
            return kMatch;
        }
        if (x.homophone != 0 && x.homophone == y.homophone) {
            return kHomophone;
        }
    }
    if (x.light && y.light) {
        return kLight;
    }
    if (x.prefix3 == y.prefix3 && x.plain && y.plain && similar(x.word->key, y.word->key)) {
        return kSimilar;
    }
    return kNever;
}

std::uint32_t dropCost(const Info& f) {
    return f.droppable ? kDrop : f.light ? kLight : kContent;
}

std::uint32_t addCost(const Info& f) {
    return f.kind() == Kind::listMark ? kDrop : f.light ? kLight : kContent;
}

// For texts too long for the alignment: every word of the answer is somewhere in the
// dictation, and every kept word of the dictation somewhere in the answer.
Tally compareAsSets(const std::vector<Info>& r, const std::vector<Info>& a) {
    auto hashes = [](const std::vector<Info>& v) {
        std::vector<std::uint64_t> out;
        for (const Info& f : v) {
            out.push_back(f.hash);
            for (std::uint64_t alt : f.alt) {
                if (alt != 0) {
                    out.push_back(alt);
                }
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    auto rh = hashes(r), ah = hashes(a);
    Tally tally;
    for (const Info& f : a) {
        if (!f.light && !std::binary_search(rh.begin(), rh.end(), f.hash)) {
            tally.gained(f);
        }
    }
    for (const Info& f : r) {
        if (!f.light && !f.droppable && !std::binary_search(ah.begin(), ah.end(), f.hash)) {
            tally.lost(f);
        }
    }
    return tally;
}

// How the cheapest path reaches a cell of an alignment table.
enum Step : std::uint8_t { none, fromDrop, fromAdd, fromPair };

// Walks the cheapest path back from the last cell, counting what it drops, adds and pairs;
// absent when a cell on the way has no way in.
template <typename StepAt>
std::optional<Tally> tallyPath(const std::vector<Info>& r, const std::vector<Info>& a,
                               StepAt stepAt) {
    const std::uint64_t one = hashOf("1");
    Tally tally;
    for (std::size_t i = r.size(), j = a.size(); i > 0 || j > 0;) {
        switch (stepAt(i, j)) {
        case fromDrop:
            --i;
            if (!r[i].droppable) {
                tally.lost(r[i]);
            }
            break;
        case fromAdd:
            --j;
            tally.gained(a[j]);
            break;
        case fromPair: {
            --i;
            --j;
            std::uint32_t s = substitution(r[i], a[j], one);
            tally.light += s == kLight;
            tally.similar += s == kSimilar;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return tally;
}

} // namespace

std::uint64_t hashOf(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

std::vector<Info> infos(const Words& words) {
    std::vector<Info> out(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Word& w = words[i];
        Info& f = out[i];
        f.word = &w;
        f.kind_ = w.kind;
        f.hash = hashOf(w.key);
        f.homophone = w.homophone;
        std::memcpy(&f.prefix3, w.key.data(), std::min<std::size_t>(w.key.size(), 3));
        if (w.kind == Kind::word) {
            f.light = is(w, light);
            f.negation = is(w, negation);
            f.date = is(w, date);
            f.one = w.key == "un" || w.key == "una" || w.key == "uno";
            f.name = w.capital && !w.sentenceStart && !f.light && !f.one;
            f.plain = !f.light && !f.negation && !f.date && !f.name && !f.one;
            if (i > 0 && f.homophone == 0 && is(w, endsHomophonePair)) {
                f.homophone = homophoneOfPair(words[i - 1].key, w.key);
            }
        }
        f.rare = w.kind != Kind::word || f.one || f.homophone != 0;
    }
    return out;
}

bool sameWord(const Info& x, const Info& y) {
    return substitution(x, y, hashOf("1")) <= kHomophone;
}

bool similar(std::string_view a, std::string_view b) {
    std::size_t common = 0;
    while (common < a.size() && common < b.size() && a[common] == b[common]) {
        ++common;
    }
    if (common < 3) {
        return false;
    }
    std::string_view x = a.substr(common), y = b.substr(common);
    if (x > y) {
        std::swap(x, y);
    }
    constexpr std::pair<std::string_view, std::string_view> kEndings[] = {
        {"", "s"},   {"", "es"},  {"a", "o"},  {"as", "os"}, {"a", "as"},
        {"o", "os"}, {"e", "es"}, {"a", "os"}, {"as", "o"},
    };
    return std::any_of(std::begin(kEndings), std::end(kEndings),
                       [&](const auto& e) { return e.first == x && e.second == y; });
}

void Tally::note(const Info& f, bool& content) {
    if (f.kind() != Kind::word) {
        numbers = true;
    } else if (f.negation) {
        negation = true;
    } else if (f.date) {
        date = true;
    } else if (f.name) {
        name = true;
    } else if (f.light) {
        ++light;
    } else {
        content = true;
    }
}

Tally alignInBand(const std::vector<Info>& r, const std::vector<Info>& a) {
    const std::size_t n = r.size(), m = a.size();
    const long lo = std::min(0L, long(m) - long(n)) - kBand;
    const long hi = std::max(0L, long(m) - long(n)) + kBand;
    const std::size_t width = std::size_t(hi - lo + 1);
    if ((n + 1) * width > kMaxCells) {
        return compareAsSets(r, a);
    }
    const std::uint64_t one = hashOf("1");
    std::vector<std::uint32_t> drops(n), adds(m);
    std::transform(r.begin(), r.end(), drops.begin(), dropCost);
    std::transform(a.begin(), a.end(), adds.begin(), addCost);
    std::vector<std::uint32_t> cost((n + 1) * width, kNever);
    std::vector<std::uint8_t> step((n + 1) * width, none);
    auto cell = [&](std::size_t i, std::size_t j) {
        return i * width + std::size_t(long(j) - long(i) - lo);
    };
    for (std::size_t i = 0; i <= n; ++i) {
        std::size_t jFirst = std::size_t(std::max(0L, long(i) + lo));
        std::size_t jLast = std::size_t(std::min(long(m), long(i) + hi));
        for (std::size_t j = jFirst; j <= jLast; ++j) {
            std::uint32_t best = kNever;
            std::uint8_t how = none;
            if (i == 0 && j == 0) {
                best = 0;
            }
            if (i > 0 && long(j) - long(i - 1) <= hi && cost[cell(i - 1, j)] < kNever) {
                std::uint32_t c = cost[cell(i - 1, j)] + drops[i - 1];
                if (c < best) {
                    best = c;
                    how = fromDrop;
                }
            }
            if (j > 0 && long(j - 1) - long(i) >= lo && cost[cell(i, j - 1)] < kNever) {
                std::uint32_t c = cost[cell(i, j - 1)] + adds[j - 1];
                if (c < best) {
                    best = c;
                    how = fromAdd;
                }
            }
            if (i > 0 && j > 0 && cost[cell(i - 1, j - 1)] < kNever) {
                std::uint32_t s = substitution(r[i - 1], a[j - 1], one);
                if (s < kNever && cost[cell(i - 1, j - 1)] + s <= best) {
                    best = cost[cell(i - 1, j - 1)] + s;
                    how = fromPair;
                }
            }
            cost[cell(i, j)] = best;
            step[cell(i, j)] = how;
        }
    }
    if (auto tally =
            tallyPath(r, a, [&](std::size_t i, std::size_t j) { return step[cell(i, j)]; })) {
        return *tally;
    }
    return compareAsSets(r, a); // unreachable: every cell of the band has a way in
}

// A faithful polish stays close to the cheapest path, and a window that follows it costs a
// fixed width per word of the dictation instead of one that grows with all the fillers
// dropped.
std::optional<Tally> alignInWindow(const std::vector<Info>& r, const std::vector<Info>& a) {
    constexpr std::size_t kBehind = 4, kWidth = 28;
    const std::size_t n = r.size(), m = a.size();
    const std::uint64_t one = hashOf("1");
    std::vector<std::uint32_t> cost((n + 1) * kWidth, kNever);
    std::vector<std::uint8_t> step((n + 1) * kWidth, none);
    std::vector<std::size_t> first(n + 1, 0);
    auto inRow = [&](std::size_t i, std::size_t j) {
        return j >= first[i] && j < first[i] + kWidth && j <= m;
    };
    auto cell = [&](std::size_t i, std::size_t j) { return i * kWidth + (j - first[i]); };
    for (std::size_t i = 0; i <= n; ++i) {
        std::uint32_t* row = &cost[i * kWidth];
        std::uint8_t* how = &step[i * kWidth];
        const std::uint32_t* above = i > 0 ? &cost[(i - 1) * kWidth] : nullptr;
        std::size_t shift = 0; // first[i] - first[i - 1]
        if (i > 0) {
            std::size_t best = std::size_t(std::min_element(above, above + kWidth) - above);
            shift = best > kBehind ? best - kBehind : 0;
            first[i] = first[i - 1] + shift;
        }
        const std::size_t last = std::min(m, first[i] + kWidth - 1);
        for (std::size_t j = first[i]; j <= last; ++j) {
            const std::size_t k = j - first[i];
            std::uint32_t best = i == 0 && j == 0 ? 0 : kNever;
            std::uint8_t from = none;
            if (i > 0 && k + shift < kWidth && above[k + shift] < kNever) {
                best = above[k + shift] + dropCost(r[i - 1]);
                from = fromDrop;
            }
            if (k > 0 && row[k - 1] < kNever && row[k - 1] + addCost(a[j - 1]) < best) {
                best = row[k - 1] + addCost(a[j - 1]);
                from = fromAdd;
            }
            // A pair can only win when the cell above and to the left is no dearer.
            if (i > 0 && j > 0 && k + shift >= 1 && k + shift - 1 < kWidth &&
                above[k + shift - 1] <= best) {
                std::uint32_t s = substitution(r[i - 1], a[j - 1], one);
                if (s < kNever && above[k + shift - 1] + s <= best) {
                    best = above[k + shift - 1] + s;
                    from = fromPair;
                }
            }
            row[k] = best;
            how[k] = from;
        }
    }
    if (!inRow(n, m) || cost[cell(n, m)] >= kNever) {
        return std::nullopt;
    }
    return tallyPath(r, a, [&](std::size_t i, std::size_t j) { return step[cell(i, j)]; });
}

Tally align(const std::vector<Info>& r, const std::vector<Info>& a) {
    if (auto tally = alignInWindow(r, a)) {
        return *tally;
    }
    return alignInBand(r, a);
}

} // namespace vozmo::Polisher::faithful
