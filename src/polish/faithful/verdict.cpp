// The public face of the faithfulness check: reading a text's words, and the verdict on an
// answer from the alignment of its words with the dictation's.
#include "faithful.h"

#include "alignment.h"
#include "lexicon.h"
#include "phrases.h"
#include "reordering.h"
#include "spoken_numbers.h"
#include "times.h"
#include "tokenizer.h"

#include <algorithm>

namespace vozmo::Polisher {

namespace {

using namespace faithful;

// The word after a number that starts "y medio", "y media" or "y cuarto", directly or after one
// word ("2 kilos y medio"); npos when there is none.
std::size_t halfAt(const Words& t, std::size_t p) {
    for (std::size_t y : {p + 1, p + 2}) {
        if (y + 1 < t.size() && t[y].key == "y" && t[y].kind == Kind::word &&
            anyOf(t[y + 1].key, {"medio", "media", "cuarto"}) &&
            (y == p + 1 || (t[p + 1].kind == Kind::word && t[p + 1].key != "y"))) {
            return y;
        }
    }
    return npos;
}

std::size_t count(const Words& t, Lexical what) {
    return std::size_t(
        std::count_if(t.begin(), t.end(), [&](const Word& w) { return is(w, what); }));
}

// A text mostly in the other language than the dictation: a translation.
bool otherLanguage(const Words& raw, const Words& answer) {
    auto mostly = [](const Words& t, std::size_t ours, std::size_t theirs) {
        return ours >= 2 && ours > 3 * theirs && ours * 5 >= t.size();
    };
    std::size_t rawEnglish = count(raw, english), rawSpanish = count(raw, spanish);
    std::size_t answerEnglish = count(answer, english), answerSpanish = count(answer, spanish);
    bool rawIsEnglish = mostly(raw, rawEnglish, rawSpanish);
    bool answerIsEnglish = mostly(answer, answerEnglish, answerSpanish);
    bool answerIsSpanish = mostly(answer, answerSpanish, answerEnglish);
    return (answerIsEnglish && !rawIsEnglish) || (answerIsSpanish && rawIsEnglish);
}

// Involuntary repetitions: the first of two equal runs of up to three words.
void markRepetitions(std::vector<Info>& r) {
    for (std::size_t i = 0; i < r.size(); ++i) {
        for (std::size_t n = 1; n <= 3 && i + 2 * n <= r.size(); ++n) {
            bool repeated = true;
            for (std::size_t k = 0; k < n && repeated; ++k) {
                repeated = r[i + k].hash == r[i + n + k].hash;
            }
            if (repeated) {
                for (std::size_t k = 0; k < n; ++k) {
                    r[i + k].droppable = true;
                }
            }
        }
    }
}

bool sameRun(const std::vector<Info>& r, std::size_t x, std::size_t y, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        if (r[x + k].hash != r[y + k].hash) {
            return false;
        }
    }
    return true;
}

// "el jueves no el viernes perdón el jueves": the repair restates the choice said before the
// corrected words, so the "no" that brought them in goes too, and one of the two statements.
void markRestated(const Words& t, std::vector<Info>& r, std::size_t floor, std::size_t corrected,
                  const Correction& c) {
    const std::size_t length = c.begin - corrected;
    std::size_t first = corrected;
    if (first > 0 && t[first - 1].kind == Kind::word && t[first - 1].key == "no") {
        --first;
    }
    if (first < floor + length || c.repair + length > t.size() ||
        !sameRun(r, first - length, c.repair, length)) {
        return;
    }
    for (std::size_t k = first; k < corrected; ++k) {
        r[k].droppable = true;
    }
    for (std::size_t k = c.repair; k < c.repair + length; ++k) {
        r[k].droppable = true;
    }
}

// A self-correction drops its marker and the words it corrects: from the nearest earlier word
// that the repair repeats (or of the same kind: a date for a date, a number for a number).
// Without such a word it is unclear what was corrected, and only the marker goes.
void markCorrected(const Words& t, std::vector<Info>& r) {
    constexpr std::size_t kReach = 8;
    std::size_t floor = 0;
    for (const Correction& c : corrections(t)) {
        for (std::size_t k = c.begin; k < c.end; ++k) {
            r[k].droppable = true;
        }
        const Info& repair = r[c.repair];
        for (std::size_t j = c.begin; j-- > std::max(floor, c.begin - std::min(c.begin, kReach));) {
            bool anchor = r[j].hash == repair.hash || (r[j].date && repair.date) ||
                          (r[j].kind() == Kind::number && repair.kind() == Kind::number);
            if (anchor) {
                for (std::size_t k = j; k < c.begin; ++k) {
                    r[k].droppable = true;
                }
                markRestated(t, r, floor, j, c);
                break;
            }
        }
        floor = c.repair;
    }
}

// Spoken list words ("primero", "en segundo lugar", "y por último"), which a numbered list
// replaces.
void markListWords(const Words& t, std::vector<Info>& r) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind != Kind::word ||
            !(is(t[i], ordinal) || anyOf(t[i].key, {"luego", "despues"}))) {
            continue;
        }
        r[i].droppable = true;
        if (i > 0 && anyOf(t[i - 1].key, {"y", "e", "en"})) {
            r[i - 1].droppable = true;
        }
        if (i + 1 < t.size() && t[i + 1].key == "lugar") {
            r[i + 1].droppable = true; // "en primer lugar"
        }
    }
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (phraseAt(t, i, "por ultimo")) {
            r[i].droppable = r[i + 1].droppable = true;
            if (i > 0 && t[i - 1].key == "y") {
                r[i - 1].droppable = true;
            }
        }
    }
}

// "dos kilos y medio" written "2,5 kilos": "y medio" went into the number.
void markHalves(const Words& t, std::vector<Info>& r, const std::vector<Info>& a) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind != Kind::number || !isInteger(t[i].key)) {
            continue;
        }
        std::size_t y = halfAt(t, i);
        if (y == npos) {
            continue;
        }
        bool quarter = t[y + 1].key == "cuarto";
        r[i].alt = {hashOf(t[i].key + (quarter ? ".25" : ".5")),
                    hashOf(t[i].key + (quarter ? ":15" : ":30"))};
        bool used = std::any_of(a.begin(), a.end(), [&](const Info& f) {
            return f.kind() != Kind::word && (f.hash == r[i].alt[0] || f.hash == r[i].alt[1]);
        });
        if (used) {
            r[y].droppable = r[y + 1].droppable = true;
        }
    }
}

// Marks the words of the dictation that a faithful polish may leave out.
void markDroppable(const Words& t, std::vector<Info>& r, const std::vector<Info>& a) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        r[i].droppable = t[i].filler;
    }
    markRepetitions(r);
    markCorrected(t, r);
    if (std::any_of(a.begin(), a.end(), [](const Info& f) { return f.kind() == Kind::listMark; })) {
        markListWords(t, r);
    }
    markHalves(t, r, a);
    markTimes(t, r, a);
}

// The first kind of change the alignment found, most serious first; empty when there is none.
std::string_view firstChange(const Tally& tally, std::size_t rawWords) {
    if (tally.numbers) {
        return "cifras";
    }
    if (tally.negation) {
        return "negacion";
    }
    if (tally.date) {
        return "fecha";
    }
    if (tally.name) {
        return "nombre";
    }
    if (tally.added) {
        return "anade";
    }
    if (tally.dropped) {
        return "quita";
    }
    // Grammar fixes touch a few small words and word endings, not a sentence's every word.
    if (tally.light > 2 + rawWords / 10 || tally.similar > 1 + rawWords / 8) {
        return "retoques";
    }
    return {};
}

} // namespace

Words words(std::string_view text) {
    Words out = withNumbers(tokens(text));
    markFillers(out);
    return out;
}

bool mayShrink(const Words& raw) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].filler || raw[i].spoken ||
            (i + 1 < raw.size() && raw[i].key == raw[i + 1].key)) {
            return true;
        }
    }
    return false;
}

bool hasSelfCorrection(const Words& raw) {
    return !corrections(raw).empty();
}

std::string_view contentChange(const Words& raw, const Words& answer) {
    if (otherLanguage(raw, answer)) {
        return "idioma";
    }
    std::vector<Info> r = infos(raw);
    const std::vector<Info> a = infos(answer);
    markDroppable(raw, r, a);
    const std::string_view change = firstChange(align(r, a), raw.size());
    if (!change.empty() && reordered(r, a)) {
        return {};
    }
    return change;
}

} // namespace vozmo::Polisher
