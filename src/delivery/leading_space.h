#pragma once

#include "accessible_text.h"

#include <string_view>

namespace vozmo {

// The decision on the text just before the insertion point: a space goes before the dictated
// text unless the field is empty there, or its last character is white space or one of the
// opening characters ( [ { ¿ ¡ " ' «.
bool needsLeadingSpaceAfter(std::string_view textBefore);

// Asks `field` for the text before the insertion point; every failure answers false.
bool needsLeadingSpace(AccessibleText& field);

// The same for the text field that has the focus of the desktop, through AT-SPI.
// Main thread only.
bool needsLeadingSpace();

} // namespace vozmo
