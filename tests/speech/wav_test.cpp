#include "wav.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace vozmo {
namespace {

std::uint32_t u32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    }
    return v;
}

std::int16_t s16(const std::string& b, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<unsigned char>(b[at]) |
                                     (static_cast<unsigned char>(b[at + 1]) << 8));
}

TEST(WavData, EmptyInputIsExactlyTheHeader) {
    const auto wav = wavData({});
    ASSERT_TRUE(wav);
    const std::string expected("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3e\0\0"
                               "\0\x7d\0\0\x02\0\x10\0data\0\0\0\0",
                               44);
    EXPECT_EQ(*wav, expected);
}

TEST(WavData, HeaderSizesFollowTheSampleCount) {
    const std::vector<float> samples(12345, 0.25f);
    const auto wav = wavData(samples);
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->size(), 44u + 2 * samples.size());
    EXPECT_EQ(wav->substr(0, 4), "RIFF");
    EXPECT_EQ(u32(*wav, 4), 36u + 2 * samples.size());
    EXPECT_EQ(wav->substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(*wav, 16), 16u);
    EXPECT_EQ(u32(*wav, 20), 1u | (1u << 16)); // PCM, one channel
    EXPECT_EQ(u32(*wav, 24), 16000u);
    EXPECT_EQ(u32(*wav, 28), 32000u);
    EXPECT_EQ(u32(*wav, 32), 2u | (16u << 16)); // block align 2, 16 bits
    EXPECT_EQ(wav->substr(36, 4), "data");
    EXPECT_EQ(u32(*wav, 40), 2 * samples.size());
    EXPECT_EQ(s16(*wav, wav->size() - 2), 8191);
}

TEST(WavData, SamplesConvertWithClampingAndTruncationTowardZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        std::int16_t out;
    } cases[] = {
        {0.0f, 0},           {0.5f, 16383},   {-0.5f, -16383},   {1.0f, 32767},
        {2.0f, 32767},       {nan, 32767},    {-nan, 32767},     {inf, 32767},
        {-1.0f, -32767},     {-5.0f, -32767}, {-inf, -32767},    {0.99999f, 32766},
        {-0.99999f, -32766}, {1e-6f, 0},      {-1e-6f, 0},       {-0.00004f, -1},
        {0.00004f, 1},       {-0.0f, 0},      {1.0f / 32767, 1}, {0.999999f, 32766},
    };
    // Enough samples that the bulk conversion path and its tail are both exercised.
    std::vector<float> samples;
    for (int round = 0; round < 200; ++round) {
        for (const auto& c : cases) {
            samples.push_back(c.in);
        }
    }
    const auto wav = wavData(samples);
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->size(), 44 + 2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& c = cases[i % std::size(cases)];
        ASSERT_EQ(s16(*wav, 44 + 2 * i), c.out) << "sample " << c.in << " at " << i;
    }
}

TEST(WavData, InputTooLongForTheHeaderIsRefused) {
    // The largest count whose RIFF size still fits 32 bits is 2147483629; one more must be
    // refused before a single sample is read. The span covers reserved, never-touched memory.
    const std::size_t tooMany = 2147483630;
    const std::size_t bytes = tooMany * sizeof(float);
    void* memory =
        ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    const auto wav = wavData({static_cast<const float*>(memory), tooMany});
    ::munmap(memory, bytes);
    EXPECT_FALSE(wav);
}

} // namespace
} // namespace vozmo
