#pragma once

#include "accessible_text.h"

namespace vozmo {

// The focused text field through AT-SPI2 (libatspi over D-Bus). The field is found inside the
// application whose window is active: first with one Collection query for the focused object,
// then, for toolkits without Collection, by walking the visible part of its tree. Every D-Bus
// call has a short time limit and the whole search a limit of its own, so a frozen application
// costs the main thread a moment, not a hang.
class AtspiAccessibleText : public AccessibleText {
public:
    std::optional<std::string> textBeforeInsertionPoint(int maxChars) override;
};

} // namespace vozmo
