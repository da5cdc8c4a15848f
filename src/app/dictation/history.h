#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vozmo {

// One delivered dictation: the text as written (polished when the polish was kept) and the
// transcript before polishing. Memory only: never written anywhere.
struct HistoryEntry {
    std::string text;
    std::string raw;
    bool polished() const { return raw != text; }
};

// The last dictations, newest first.
class History {
public:
    static constexpr std::size_t kLength = 15;

    void add(HistoryEntry entry);
    const std::vector<HistoryEntry>& entries() const { return entries_; }
    std::vector<std::string> texts() const;

private:
    std::vector<HistoryEntry> entries_;
};

} // namespace vozmo
