#include "wav.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vozmo {

namespace {

constexpr std::size_t kHeaderBytes = 44;

void put32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void put16(char* at, std::uint16_t value) {
    at[0] = static_cast<char>(value & 0xFF);
    at[1] = static_cast<char>(value >> 8);
}

std::int16_t toPcm(float s) {
    // NaN fails "s < 1.0" and so lands on full scale, like anything at or above 1.0.
    const float scaled = s < 1.0f ? std::max(s, -1.0f) * 32767.0f : 32767.0f;
    // Truncation toward zero; going through 32 bits lets the compiler vectorise the loop.
    return static_cast<std::int16_t>(static_cast<std::int32_t>(scaled));
}

} // namespace

std::optional<std::size_t> wavBytes(std::size_t samples) {
    constexpr std::uint64_t largest = std::numeric_limits<std::uint32_t>::max();
    if (static_cast<std::uint64_t>(samples) > (largest - 36) / 2) {
        return std::nullopt; // the sizes would wrap in their 32-bit fields
    }
    return kHeaderBytes + 2 * samples;
}

void writeWav(char* out, std::span<const float> samples) {
    const auto dataBytes = static_cast<std::uint32_t>(2 * samples.size());
    std::memcpy(out + 0, "RIFF", 4);
    put32(out + 4, 36 + dataBytes);
    std::memcpy(out + 8, "WAVE", 4);
    std::memcpy(out + 12, "fmt ", 4);
    put32(out + 16, 16);
    put16(out + 20, 1);
    put16(out + 22, 1);
    put32(out + 24, 16000);
    put32(out + 28, 32000);
    put16(out + 32, 2);
    put16(out + 34, 16);
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, dataBytes);

    char* pcm = out + kHeaderBytes;
    const float* in = samples.data();
    const std::size_t count = samples.size();
    if constexpr (std::endian::native == std::endian::little) {
        // Converted in blocks through a small aligned buffer so the loop vectorises and the
        // copy stays in cache.
        constexpr std::size_t block = 1024;
        std::int16_t converted[block];
        for (std::size_t start = 0; start < count; start += block) {
            const std::size_t len = std::min(block, count - start);
            for (std::size_t i = 0; i < len; ++i) {
                converted[i] = toPcm(in[start + i]);
            }
            std::memcpy(pcm + 2 * start, converted, 2 * len);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            put16(pcm + 2 * i, static_cast<std::uint16_t>(toPcm(in[i])));
        }
    }
}

std::optional<std::string> wavData(std::span<const float> samples) {
    const auto size = wavBytes(samples.size());
    if (!size) {
        return std::nullopt;
    }
    std::string bytes(*size, '\0');
    writeWav(bytes.data(), samples);
    return bytes;
}

} // namespace vozmo
