#include "times.h"

#include "lexicon.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace vozmo::Polisher::faithful {

namespace {

// The hour of a 24-hour clock for an hour of 1 to 12 in that part of the day; -1 when the part
// of the day has no such hour ("las diez de la madrugada").
int hourOfDay(int hour, std::string_view part) {
    if (part == "madrugada") {
        return hour == 12 ? 0 : hour <= 6 ? hour : -1;
    }
    if (part == "manana") {
        return hour;
    }
    if (part == "mediodia") {
        return hour == 12 ? 12 : hour <= 3 ? hour + 12 : -1;
    }
    if (part == "tarde") {
        return hour == 12 ? 12 : hour <= 9 ? hour + 12 : -1;
    }
    if (part == "noche") {
        return hour == 12 ? 0 : hour >= 7 ? hour + 12 : hour <= 5 ? hour : -1;
    }
    return -1;
}

// The value of one or two digits from low to high; -1 for anything else.
int integer(std::string_view key, int low, int high) {
    int value = -1;
    if (key.empty() || key.size() > 2 ||
        std::from_chars(key.data(), key.data() + key.size(), value).ptr !=
            key.data() + key.size()) {
        return -1;
    }
    return value >= low && value <= high ? value : -1;
}

struct Time {
    int hour = -1, minutes = 0;
    std::size_t end = 0; // the word after the part of the day
    std::string_view part;
};

// The time whose hour is t[i], after "la" or "las": "5", "5:30" or "una", then "y media",
// "y cuarto" or "y" and minutes, then "de la mañana/madrugada/tarde/noche" or "del mediodía".
Time timeAt(const Words& t, std::size_t i) {
    Time time;
    if (i == 0 || !anyOf(t[i - 1].key, {"la", "las"}) || t[i - 1].kind != Kind::word) {
        return {};
    }
    const Word& w = t[i];
    if (w.kind == Kind::word && w.key == "una") {
        time.hour = 1;
    } else if (w.kind == Kind::number) {
        // "5" or "5:30", as written.
        const std::string_view key = w.key;
        const std::size_t colon = key.find(':');
        time.hour = integer(key.substr(0, colon), 1, 12);
        if (colon != npos) {
            time.minutes = key.size() - colon == 3 ? integer(key.substr(colon + 1), 0, 59) : -1;
        }
    }
    if (time.hour < 0 || time.minutes < 0) {
        return {};
    }
    std::size_t k = i + 1;
    auto key = [&](std::size_t at) { return at < t.size() ? std::string_view(t[at].key) : ""; };
    if (key(k) == "y" && time.minutes == 0) {
        int minutes = key(k + 1) == "media"    ? 30
                      : key(k + 1) == "cuarto" ? 15
                      : k + 1 < t.size() && t[k + 1].kind == Kind::number
                          ? integer(t[k + 1].key, 1, 59)
                          : -1;
        if (minutes > 0) {
            time.minutes = minutes;
            k += 2;
        }
    }
    if (key(k) == "de" && key(k + 1) == "la" &&
        anyOf(key(k + 2), {"manana", "madrugada", "tarde", "noche"})) {
        time.part = key(k + 2);
        time.end = k + 3;
    } else if (key(k) == "del" && key(k + 1) == "mediodia") {
        time.part = key(k + 1);
        time.end = k + 2;
    } else {
        return {};
    }
    time.hour = hourOfDay(time.hour, time.part);
    return time;
}

// "17:00", "05:30", and for a full hour also "17", as a polish writes the time.
std::vector<std::uint64_t> forms(const Time& time) {
    auto twoDigits = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    const std::string minutes = ":" + twoDigits(time.minutes);
    std::vector<std::uint64_t> out = {hashOf(std::to_string(time.hour) + minutes)};
    if (time.hour < 10) {
        out.push_back(hashOf(twoDigits(time.hour) + minutes));
    }
    if (time.minutes == 0) {
        out.push_back(hashOf(std::to_string(time.hour)));
    }
    return out;
}

} // namespace

void markTimes(const Words& t, std::vector<Info>& r, const std::vector<Info>& a) {
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i].kind != Kind::number && t[i].key != "una") {
            continue;
        }
        const Time time = timeAt(t, i);
        if (time.hour < 0) {
            continue;
        }
        bool used = false;
        for (std::uint64_t form : forms(time)) {
            // "las 5 de la mañana" written "las 5" leaves it unsaid which five.
            auto& alt = r[i].alt;
            if (form == r[i].hash) {
                continue;
            }
            if (std::find(alt.begin(), alt.end(), form) == alt.end()) {
                if (auto free = std::find(alt.begin(), alt.end(), 0); free != alt.end()) {
                    *free = form;
                }
            }
            used = used || std::any_of(a.begin(), a.end(), [&](const Info& f) {
                       return f.kind() == Kind::number && f.hash == form;
                   });
        }
        if (used) {
            for (std::size_t k = i + 1; k < time.end; ++k) {
                r[k].droppable = true;
            }
        }
    }
}

} // namespace vozmo::Polisher::faithful
