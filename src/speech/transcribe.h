#pragma once

#include "config.h"
#include "error.h"

#include <optional>
#include <span>
#include <stop_token>
#include <string>

namespace vozmo {

// Sends one WAV recording to the local speech server and returns its transcript exactly as
// received, or absent on any failure (logged with its reason). Blocks for up to
// 90 s; call it from a background thread. Safe from several threads at once. The port exists
// for tests; the application always uses the default. A positive `audioContext` sizes the
// encoder window (see speechWindowFrames); 0 asks for the full window. A stop request abandons
// the exchange at once (absent, nothing logged).
std::optional<std::string> transcribe(const std::string& wav, const std::string& language,
                                      const std::string& prompt, int port = WHISPER_PORT,
                                      int audioContext = 0, std::stop_token stop = {});

// The same for 16 kHz mono samples, with its own time limit, the WAV written straight into the
// request: the transcript, or Error::transcriptionTimedOut (detail: the limit),
// Error::transcriptionFailed (detail: no answer or the status) or Error::cancelled.
Result<std::string> transcribeSamples(std::span<const float> samples, const std::string& language,
                                      const std::string& prompt, int port, int audioContext,
                                      double timeoutSeconds, std::stop_token stop);

// The transcript of a speech-server answer: the string "text" of a 200 JSON object; absent for
// any other status, body or shape.
std::optional<std::string> readTranscript(int status, const std::optional<std::string>& body);

// "Vozmo" followed by a fresh random UUID in upper-case hexadecimal.
std::string newBoundary();

// The multipart/form-data body of one /inference request; the prompt field is left out when the
// prompt is empty.
std::string multipartBody(const std::string& boundary, const std::string& wav,
                          const std::string& language, const std::string& prompt,
                          int audioContext = 0);
// The same around the WAV of `samples`, written in place; absent when too long for a WAV.
std::optional<std::string> multipartBody(const std::string& boundary,
                                         std::span<const float> samples,
                                         const std::string& language, const std::string& prompt,
                                         int audioContext = 0);

} // namespace vozmo
