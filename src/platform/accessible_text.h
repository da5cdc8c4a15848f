#pragma once

#include <optional>
#include <string>

namespace vozmo {

// The text field that has the focus of the whole desktop, seen through the accessibility
// interface. Main thread only.
class AccessibleText {
public:
    virtual ~AccessibleText() = default;

    // Up to `maxChars` characters (UTF-8) just before the insertion point of the focused text
    // field, or before the start of its selection. Empty at the start of the field; absent
    // when there is no focused text field or it does not answer in time.
    virtual std::optional<std::string> textBeforeInsertionPoint(int maxChars) = 0;
};

} // namespace vozmo
