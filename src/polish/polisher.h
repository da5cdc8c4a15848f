#pragma once

#include "config.h"
#include "http.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vozmo::Polisher {

// The fixed system prompt: nine lines joined by line feeds.
extern const std::string_view system;

// Six few-shot pairs (dictation, expected answer), in order.
std::span<const std::pair<std::string_view, std::string_view>> examples();

// The system message: `system`, plus a line listing the vocabulary when there is one.
std::string systemText(const std::vector<std::string>& vocabulary);

// The request body: 14 messages, sampling settings, the token cap and the template switch.
nlohmann::json polishRequestBody(std::string_view text, const std::vector<std::string>& vocabulary);

// POST to the language-model server's chat endpoint on 127.0.0.1:port, 8-second limit, carrying
// the server's key when there is one.
HttpRequest polishRequest(std::string_view text, const std::vector<std::string>& vocabulary,
                          int port = LLM_PORT, std::string_view apiKey = {});

// The model's answer, cleaned, when the exchange has the expected shape; absent otherwise.
std::optional<std::string> readPolishAnswer(int status, const std::optional<std::string>& body);

// Drops a reasoning block's tail, the <dictado> tags, surrounding white space and one pair of
// enclosing straight double quotes.
std::string cleanContent(std::string_view content);

// Sends one dictation to the language model and waits for the answer (at most 8 s). Blocks:
// call it from a background thread only. Without a vocabulary, the words of the freshly loaded
// dictionary are listed.
std::optional<std::string> polish(std::string_view text, int port = LLM_PORT);
// A stop request abandons the exchange at once.
std::optional<std::string> polish(std::string_view text, const std::vector<std::string>& vocabulary,
                                  int port = LLM_PORT, std::stop_token stop = {},
                                  std::string_view apiKey = {});

// Why an exchange gave no usable answer, in a few words for the log: failureText's for an
// exchange that failed ("tiempo agotado", "conexión rechazada"…), "clave" for a refused key,
// "estado_<status>", "respuesta" for an answer of the wrong shape; never any of the text.
std::string failureReason(const HttpResponse& response);

// The acceptance test's answer. `reason` is a short code for the log when the answer is
// refused ("marcador", "largo", "corto", "cifras", or one of `contentChange`'s), empty when it
// is accepted; it never holds any of the dictated text.
struct Verdict {
    bool accepted = false;
    std::string_view reason;
};

// Whether the polished answer may replace the dictation: no refusal or announcement, no
// runaway growth or shrinkage, every number of the dictation kept, and the same content word
// for word but for what a polish is asked to change (fillers, self-corrections, punctuation,
// capitals, accents, numbered lists, spoken numbers as digits).
Verdict judge(std::string_view raw, std::string_view polished);
bool accept(std::string_view raw, std::string_view polished);

// The maximal runs of decimal digits (any script) in the text.
std::set<std::string> numbers(std::string_view text);

} // namespace vozmo::Polisher
