// The WAV encoder over samples of any bit pattern: NaN, infinities, denormals, extremes.
// Input: native float samples, four bytes each; a shorter tail is ignored.
#include "fuzz_support.h"
#include "wav.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::uint32_t get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

int get16(const std::string& s, std::size_t at) {
    const auto v = static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                              (static_cast<unsigned char>(s[at + 1]) << 8));
    return static_cast<std::int16_t>(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<float> samples(size / sizeof(float));
    if (!samples.empty()) {
        std::memcpy(samples.data(), data, samples.size() * sizeof(float));
    }
    const auto wav = vozmo::wavData(samples);
    FUZZ_CHECK(wav.has_value());
    const std::size_t n = samples.size();
    FUZZ_CHECK(wav->size() == 44 + 2 * n);
    FUZZ_CHECK(wav->compare(0, 4, "RIFF") == 0 && wav->compare(36, 4, "data") == 0);
    FUZZ_CHECK(get32(*wav, 4) == 36 + 2 * n && get32(*wav, 40) == 2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const float s = samples[i];
        const int pcm = get16(*wav, 44 + 2 * i);
        if (std::isnan(s) || s >= 1.0f) {
            FUZZ_CHECK(pcm == 32767);
        } else if (s <= -1.0f) {
            FUZZ_CHECK(pcm == -32767);
        } else {
            FUZZ_CHECK(std::fabs(pcm - double(s) * 32767.0) < 1.0);
        }
    }
    return 0;
}
