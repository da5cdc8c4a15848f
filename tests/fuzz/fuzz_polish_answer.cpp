// The language model's answer read and cleaned, and a dictation of any bytes made into a request.
#include "fuzz_support.h"
#include "polisher.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(vozmo::fuzz::bytesOf(data, size));
    if (auto answer = vozmo::Polisher::readPolishAnswer(200, bytes)) {
        (void)vozmo::Polisher::accept("texto dictado", *answer);
    }
    (void)vozmo::Polisher::cleanContent(bytes);

    const auto request = vozmo::Polisher::polishRequest(bytes, std::vector<std::string>{bytes});
    const auto parsed = nlohmann::json::parse(request.body, nullptr, false);
    FUZZ_CHECK(parsed.is_object());
    return 0;
}
