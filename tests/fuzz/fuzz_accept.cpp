// The acceptance test of a polished answer and the numbers it compares.
// Input: the dictation, a NUL, the polished answer.
#include "fuzz_support.h"
#include "polisher.h"
#include "unicode_text.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [raw, polished] = vozmo::fuzz::splitAtNul(vozmo::fuzz::bytesOf(data, size));
    (void)vozmo::Polisher::accept(raw, polished);
    for (const std::string& number : vozmo::Polisher::numbers(raw)) {
        FUZZ_CHECK(!number.empty());
        FUZZ_CHECK(raw.find(number) != std::string_view::npos);
    }
    // An answer that changes nothing can never be refused.
    const std::string_view same = vozmo::text::trimWhitespace(raw);
    if (!same.empty()) {
        FUZZ_CHECK(vozmo::Polisher::accept(same, same));
    }
    return 0;
}
