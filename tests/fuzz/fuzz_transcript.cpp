// The speech server's answer, read and cleaned as a dictation's transcript.
#include "clean_whisper.h"
#include "fuzz_support.h"
#include "transcribe.h"

#include <string>

namespace {

void checkCleaned(const std::string& cleaned) {
    FUZZ_CHECK(cleaned.find('\n') == std::string::npos);
    FUZZ_CHECK(cleaned.find("  ") == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(vozmo::fuzz::bytesOf(data, size));
    if (auto text = vozmo::readTranscript(200, body)) {
        checkCleaned(vozmo::cleanWhisper(*text));
    }
    // The bytes as a transcript themselves, so the cleanup also meets what JSON cannot carry.
    checkCleaned(vozmo::cleanWhisper(body));
    return 0;
}
