#include "history.h"

namespace vozmo {

void History::add(HistoryEntry entry) {
    entries_.insert(entries_.begin(), std::move(entry));
    if (entries_.size() > kLength) {
        entries_.pop_back();
    }
}

std::vector<std::string> History::texts() const {
    std::vector<std::string> texts;
    texts.reserve(entries_.size());
    for (const HistoryEntry& entry : entries_) {
        texts.push_back(entry.text);
    }
    return texts;
}

} // namespace vozmo
