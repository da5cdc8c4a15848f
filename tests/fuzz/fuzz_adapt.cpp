// The text adapted to the receiving application.
// Input: one byte choosing the application (none, a chat application, another one), the text.
#include "adapt.h"
#include "fuzz_support.h"

#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    vozmo::fuzz::privateHome(); // the configuration holds the chat applications
    std::optional<std::string> app;
    const bool chat = data[0] % 3 == 1;
    if (chat) {
        app = "org.telegram.desktop";
    } else if (data[0] % 3 == 2) {
        app = "gedit";
    }
    const std::string_view text = vozmo::fuzz::bytesOf(data + 1, size - 1);
    const std::string out = vozmo::adapt(text, app);
    // Only a chat message may change, and then only by losing its closing period.
    if (out != text) {
        FUZZ_CHECK(chat);
        FUZZ_CHECK(out.size() + 1 == text.size() && text.back() == '.' && text.starts_with(out));
    }
    return 0;
}
