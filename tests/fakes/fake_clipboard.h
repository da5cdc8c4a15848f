#pragma once

#include "clipboard.h"

#include <string>
#include <vector>

namespace vozmo::test {

// A clipboard in memory that records every write.
class FakeClipboard : public Clipboard {
public:
    ClipboardSnapshot content;
    std::uint64_t changes = 0;
    std::vector<std::string> textWrites;
    std::vector<ClipboardSnapshot> restores;
    // Whether the pasting program has read the last text; most read at once.
    bool read = true;

    ClipboardSnapshot snapshot() override { return content; }
    void setText(const std::string& text) override {
        content = {{"text/plain", text}};
        textWrites.push_back(text);
        ++changes;
    }
    void restore(const ClipboardSnapshot& snapshot) override {
        content = snapshot;
        restores.push_back(snapshot);
        ++changes;
    }
    std::uint64_t changeCount() override { return changes; }
    bool textRead() override { return read; }

    // Another program copies something.
    void copyFromElsewhere(ClipboardSnapshot other) {
        content = std::move(other);
        ++changes;
    }
};

} // namespace vozmo::test
