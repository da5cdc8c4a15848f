#include "leading_space.h"

#include "accessible_text_atspi.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <memory>

namespace vozmo {

namespace {

constexpr std::array<UChar32, 8> kOpeningCharacters = {
    0x0028, 0x005B, 0x007B, 0x00BF, 0x00A1, 0x0022, 0x0027, 0x00AB,
};

// A few characters are enough to hold the last user-perceived character (a letter with its
// combining marks, an emoji sequence).
constexpr int kCharsBefore = 16;

} // namespace

bool needsLeadingSpaceAfter(std::string_view textBefore) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(textBefore.data(), static_cast<int32_t>(textBefore.size())));
    if (text.isEmpty()) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> graphemes(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    int32_t lastStart = 0;
    if (U_SUCCESS(status) && graphemes) {
        graphemes->setText(text);
        lastStart = std::max(0, graphemes->preceding(text.length()));
    } else {
        lastStart = text.moveIndex32(text.length(), -1);
    }
    UChar32 first = text.char32At(lastStart);
    if (u_isUWhiteSpace(first)) {
        return false;
    }
    return std::find(kOpeningCharacters.begin(), kOpeningCharacters.end(), first) ==
           kOpeningCharacters.end();
}

bool needsLeadingSpace(AccessibleText& field) {
    auto before = field.textBeforeInsertionPoint(kCharsBefore);
    return before && needsLeadingSpaceAfter(*before);
}

bool needsLeadingSpace() {
    AtspiAccessibleText field;
    return needsLeadingSpace(field);
}

} // namespace vozmo
