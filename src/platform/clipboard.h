#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vozmo {

// One format the clipboard offers: its MIME type and the bytes stored for it.
struct ClipboardFormat {
    std::string mimeType;
    std::string bytes;
    bool operator==(const ClipboardFormat&) const = default;
};

// Everything the clipboard offered at one moment, in the order the owner listed it.
using ClipboardSnapshot = std::vector<ClipboardFormat>;

// The desktop clipboard (on X11 the CLIPBOARD selection). Main thread only.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Every format currently offered, with its bytes. Empty when nothing is offered or the
    // owner does not answer in time; a format whose bytes cannot be read is left out.
    virtual ClipboardSnapshot snapshot() = 0;

    // Starts reading the current content in the background, so that a snapshot() made later,
    // with nothing changed meanwhile, answers at once. Optional.
    virtual void prefetch() {}

    // Makes the clipboard offer `text` (UTF-8) as plain text only.
    virtual void setText(const std::string& text) = 0;

    // Makes the clipboard offer exactly the formats of `snapshot`.
    virtual void restore(const ClipboardSnapshot& snapshot) = 0;

    // How many times the clipboard's content has changed so far, our own writes included.
    // Only differences between two readings mean anything.
    virtual std::uint64_t changeCount() = 0;

    // Called just before the paste stroke is sent: from then on textRead() counts only the
    // programs that ask after the stroke, so a clipboard manager that copies every new content
    // at once is not taken for the application the text is pasted into.
    virtual void strokeSending() {}

    // Whether another program has asked for the text of the last setText after the last
    // strokeSending() (since setText when there was none). A clipboard that cannot tell says
    // yes.
    virtual bool textRead() { return true; }
};

} // namespace vozmo
