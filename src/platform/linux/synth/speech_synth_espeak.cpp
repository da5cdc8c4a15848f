#include "speech_synth.h"

#include "child_process.h"

#include <samplerate.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vozmo {

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Reads a 16-bit PCM WAV into float samples, mixing channels down to mono.
std::optional<std::vector<float>> readPcm16(const std::string& bytes, int& rate) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    int channels = 0;
    int bits = 0;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        std::uint32_t size = le32(data + pos + 4);
        const unsigned char* body = data + pos + 8;
        size_t available = bytes.size() - pos - 8;
        if (std::memcmp(data + pos, "fmt ", 4) == 0 && available >= 16) {
            channels = le16(body + 2);
            rate = static_cast<int>(le32(body + 4));
            bits = le16(body + 14);
        } else if (std::memcmp(data + pos, "data", 4) == 0) {
            if (channels <= 0 || bits != 16) {
                return std::nullopt;
            }
            // espeak-ng may leave a placeholder size when it streams; take what is there.
            size_t length = std::min<size_t>(size, available);
            size_t frames = length / (2 * static_cast<size_t>(channels));
            std::vector<float> out(frames);
            for (size_t f = 0; f < frames; ++f) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) {
                    auto v = static_cast<std::int16_t>(le16(body + 2 * (f * channels + c)));
                    sum += static_cast<float>(v) / 32768.0f;
                }
                out[f] = sum / static_cast<float>(channels);
            }
            return out;
        }
        pos += 8 + size + (size & 1);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<float>> synthesizeSpeech(const std::string& text,
                                                   const std::optional<std::string>& voice,
                                                   const std::filesystem::path& workDir) {
    const auto file = workDir / "vozmo-espeak.wav";
    std::error_code ec;
    std::filesystem::remove(file, ec);
    std::vector<std::string> args;
    if (voice) {
        if (*voice == "Mónica") {
            args = {"-v", "es"};
        } else if (*voice == "Paulina") {
            args = {"-v", "es-419"};
        } else {
            args = {"-v", *voice};
        }
    }
    args.insert(args.end(), {"-w", file.string(), "--", text});
    if (auto status = runAndWait("/usr/bin/espeak-ng", args); !status || *status != 0) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file, ec);
    int rate = 0;
    auto samples = readPcm16(bytes, rate);
    if (!samples || rate <= 0) {
        return std::nullopt;
    }
    if (rate == 16000 || samples->empty()) {
        return samples;
    }
    SRC_DATA conversion{};
    conversion.src_ratio = 16000.0 / rate;
    std::vector<float> out(static_cast<size_t>(samples->size() * conversion.src_ratio) + 64);
    conversion.data_in = samples->data();
    conversion.input_frames = static_cast<long>(samples->size());
    conversion.data_out = out.data();
    conversion.output_frames = static_cast<long>(out.size());
    if (src_simple(&conversion, SRC_SINC_MEDIUM_QUALITY, 1) != 0) {
        return std::nullopt;
    }
    out.resize(static_cast<size_t>(conversion.output_frames_gen));
    return out;
}

} // namespace vozmo
