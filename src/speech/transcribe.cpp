#include "transcribe.h"

#include "http.h"
#include "log.h"
#include "speech_window.h"
#include "wav.h"

#include <nlohmann/json.hpp>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>

namespace vozmo {

namespace {

constexpr double kTimeoutSeconds = 90.0;

void appendField(std::string& body, const std::string& boundary, const char* name,
                 const std::string& value) {
    body += "--";
    body += boundary;
    body += "\r\nContent-Disposition: form-data; name=\"";
    body += name;
    body += "\"\r\n\r\n";
    body += value;
    body += "\r\n";
}

} // namespace

std::optional<std::string> readTranscript(int status, const std::optional<std::string>& body) {
    if (status != 200 || !body) {
        return std::nullopt;
    }
    auto json = nlohmann::json::parse(*body, nullptr, false);
    if (json.is_discarded() && body->size() < std::numeric_limits<int32_t>::max()) {
        // A stray ill-formed byte must not cost the whole dictation: read it as U+FFFD.
        std::string repaired;
        icu::UnicodeString::fromUTF8(icu::StringPiece(body->data(), int32_t(body->size())))
            .toUTF8String(repaired);
        if (repaired != *body) {
            json = nlohmann::json::parse(repaired, nullptr, false);
        }
    }
    if (!json.is_object()) { // also the discarded value of a failed parse
        return std::nullopt;
    }
    const auto text = json.find("text");
    if (text == json.end() || !text->is_string()) {
        return std::nullopt;
    }
    return text->get<std::string>();
}

std::string newBoundary() {
    // A random (version 4) UUID. std::random_device reads the kernel's generator, so concurrent
    // requests never share a sequence.
    std::random_device device;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = device();
        for (std::size_t k = 0; k < 4; ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string boundary = "Vozmo";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            boundary += '-';
        }
        boundary += digits[bytes[i] >> 4];
        boundary += digits[bytes[i] & 0x0F];
    }
    return boundary;
}

namespace {

constexpr std::size_t kFixedBytes = 512;

// Everything before the file's bytes.
void appendHead(std::string& body, const std::string& boundary, const std::string& language,
                const std::string& prompt, int audioContext) {
    appendField(body, boundary, "response_format", "json");
    appendField(body, boundary, "temperature", "0.0");
    appendField(body, boundary, "language", language);
    // whisper-server keeps a request's window for every later request, so the full one is sent
    // explicitly rather than left out.
    appendField(body, boundary, "audio_ctx",
                std::to_string(audioContext > 0 ? std::min(audioContext, kFullSpeechWindow)
                                                : kFullSpeechWindow));
    if (!prompt.empty()) {
        appendField(body, boundary, "prompt", prompt);
    }
    body += "--";
    body += boundary;
    body += "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
            "Content-Type: audio/wav\r\n\r\n";
}

void appendTail(std::string& body, const std::string& boundary) {
    body += "\r\n--";
    body += boundary;
    body += "--\r\n";
}

std::size_t bodyBytes(std::size_t file, const std::string& boundary, const std::string& language,
                      const std::string& prompt) {
    return file + language.size() + prompt.size() + 7 * boundary.size() + kFixedBytes;
}

} // namespace

std::string multipartBody(const std::string& boundary, const std::string& wav,
                          const std::string& language, const std::string& prompt,
                          int audioContext) {
    std::string body;
    body.reserve(bodyBytes(wav.size(), boundary, language, prompt));
    appendHead(body, boundary, language, prompt, audioContext);
    body += wav;
    appendTail(body, boundary);
    return body;
}

std::optional<std::string> multipartBody(const std::string& boundary,
                                         std::span<const float> samples,
                                         const std::string& language, const std::string& prompt,
                                         int audioContext) {
    const auto wavSize = wavBytes(samples.size());
    if (!wavSize) {
        return std::nullopt;
    }
    std::string body;
    body.reserve(bodyBytes(*wavSize, boundary, language, prompt));
    appendHead(body, boundary, language, prompt, audioContext);
    const std::size_t at = body.size();
    body.resize(at + *wavSize);
    writeWav(body.data() + at, samples);
    appendTail(body, boundary);
    return body;
}

namespace {

Result<std::string> exchange(std::string body, const std::string& boundary, int port,
                             double timeoutSeconds, std::stop_token stop) {
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(port) + "/inference";
    request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = std::move(body);
    request.timeoutSeconds = timeoutSeconds;
    request.stop = std::move(stop);

    const HttpResponse response = http(request);
    if (response.stopped) {
        return Error{Error::Kind::cancelled, {}};
    }
    if (auto transcript = readTranscript(response.status, response.body)) {
        return std::move(*transcript);
    }
    if (response.failure == HttpResponse::Failure::timedOut) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%.0f s", timeoutSeconds);
        log(std::string("Whisper no respondió en el límite de ") + limit);
        return Error{Error::Kind::transcriptionTimedOut, limit};
    }
    if (response.status == 0) {
        const std::string why = failureText(response.failure);
        log("Whisper no respondió: " + why);
        return Error{Error::Kind::transcriptionFailed, "sin respuesta: " + why};
    }
    log("Whisper respondió " + std::to_string(response.status));
    return Error{Error::Kind::transcriptionFailed, "estado " + std::to_string(response.status)};
}

} // namespace

std::optional<std::string> transcribe(const std::string& wav, const std::string& language,
                                      const std::string& prompt, int port, int audioContext,
                                      std::stop_token stop) {
    const std::string boundary = newBoundary();
    auto transcript = exchange(multipartBody(boundary, wav, language, prompt, audioContext),
                               boundary, port, kTimeoutSeconds, std::move(stop));
    if (!transcript) {
        return std::nullopt;
    }
    return std::move(*transcript);
}

Result<std::string> transcribeSamples(std::span<const float> samples, const std::string& language,
                                      const std::string& prompt, int port, int audioContext,
                                      double timeoutSeconds, std::stop_token stop) {
    const std::string boundary = newBoundary();
    auto body = multipartBody(boundary, samples, language, prompt, audioContext);
    if (!body) {
        return Error{Error::Kind::transcriptionFailed, "audio demasiado largo para un WAV"};
    }
    return exchange(std::move(*body), boundary, port, timeoutSeconds, std::move(stop));
}

} // namespace vozmo
