#pragma once

#include "accessible_text.h"

namespace vozmo::test {

// A focused field with a fixed text before its insertion point (absent: no focused field).
class FakeAccessibleText : public AccessibleText {
public:
    std::optional<std::string> before;
    int askedFor = 0;
    std::optional<std::string> textBeforeInsertionPoint(int maxChars) override {
        askedFor = maxChars;
        return before;
    }
};

} // namespace vozmo::test
