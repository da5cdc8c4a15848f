#include "polish_speed.h"

#include "http.h"
#include "polisher.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace vozmo {

namespace {

constexpr double kCharactersPerToken = 3.5;
// The chat template around each new user message and the start of the answer: role markers,
// the <dictado> tags and the empty reasoning block of the non-thinking mode.
constexpr double kTemplateTokens = 14;
// Per-second figures over fewer tokens than this are mostly the request's fixed cost.
constexpr int kFewestPromptTokens = 8;
constexpr int kFewestPredictedTokens = 4;

double positiveNumber(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number()) {
        return 0;
    }
    const double value = found->get<double>();
    return value > 0 ? value : 0;
}

// tokens per second from the rate the server states, else from its count and milliseconds.
double rate(const nlohmann::json& timings, const char* perSecond, const char* count,
            const char* ms) {
    if (double stated = positiveNumber(timings, perSecond); stated > 0) {
        return stated;
    }
    const double n = positiveNumber(timings, count);
    const double millis = positiveNumber(timings, ms);
    return n > 0 && millis > 0 ? n * 1000.0 / millis : 0;
}

} // namespace

std::optional<PolishTimings> readTimings(const std::optional<std::string>& body) {
    if (!body) {
        return std::nullopt;
    }
    const auto answer = nlohmann::json::parse(*body, nullptr, false);
    if (!answer.is_object()) {
        return std::nullopt;
    }
    const auto timings = answer.find("timings");
    if (timings == answer.end() || !timings->is_object()) {
        return std::nullopt;
    }
    PolishTimings out;
    out.promptPerSecond = rate(*timings, "prompt_per_second", "prompt_n", "prompt_ms");
    out.predictedPerSecond = rate(*timings, "predicted_per_second", "predicted_n", "predicted_ms");
    out.promptTokens = static_cast<int>(positiveNumber(*timings, "prompt_n"));
    out.predictedTokens = static_cast<int>(positiveNumber(*timings, "predicted_n"));
    if (out.promptPerSecond <= 0 && out.predictedPerSecond <= 0) {
        return std::nullopt;
    }
    return out;
}

double estimatedTokens(std::string_view text) {
    std::size_t characters = 0;
    for (char c : text) {
        // Counts UTF-8 lead bytes only: one per character, accented letters included.
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return static_cast<double>(characters) / kCharactersPerToken;
}

double predictedPolishSeconds(std::string_view dictation, const PolishTimings& speeds) {
    const double answerTokens = estimatedTokens(dictation);
    const double promptTokens = answerTokens + kTemplateTokens;
    double seconds = 0;
    if (speeds.promptPerSecond > 0) {
        seconds += promptTokens / speeds.promptPerSecond;
    }
    if (speeds.predictedPerSecond > 0) {
        seconds += answerTokens / speeds.predictedPerSecond;
    }
    return seconds;
}

void PolishSpeed::record(const PolishTimings& timings) {
    std::lock_guard guard(lock_);
    PolishTimings kept = speeds_.value_or(PolishTimings{});
    if (timings.promptPerSecond > 0 &&
        (timings.promptTokens >= kFewestPromptTokens || kept.promptPerSecond <= 0)) {
        kept.promptPerSecond = timings.promptPerSecond;
        kept.promptTokens = timings.promptTokens;
    }
    if (timings.predictedPerSecond > 0 &&
        (timings.predictedTokens >= kFewestPredictedTokens || kept.predictedPerSecond <= 0)) {
        kept.predictedPerSecond = timings.predictedPerSecond;
        kept.predictedTokens = timings.predictedTokens;
    }
    speeds_ = kept;
}

std::optional<PolishTimings> PolishSpeed::speeds() const {
    std::lock_guard guard(lock_);
    return speeds_;
}

std::optional<double> PolishSpeed::predictSeconds(std::string_view dictation) const {
    auto known = speeds();
    if (!known || known->promptPerSecond <= 0 || known->predictedPerSecond <= 0) {
        return std::nullopt;
    }
    return predictedPolishSeconds(dictation, *known);
}

void PolishSpeed::reset() {
    std::lock_guard guard(lock_);
    speeds_.reset();
    warmedUp_ = false;
    tooSlow_ = false;
}

void PolishSpeed::setWarmedUp(bool value) {
    std::lock_guard guard(lock_);
    warmedUp_ = value;
}

bool PolishSpeed::warmedUp() const {
    std::lock_guard guard(lock_);
    return warmedUp_;
}

void PolishSpeed::setTooSlow(bool value) {
    std::lock_guard guard(lock_);
    tooSlow_ = value;
}

bool PolishSpeed::tooSlow() const {
    std::lock_guard guard(lock_);
    return tooSlow_;
}

void PolishSpeed::speechStarted() {
    std::lock_guard guard(lock_);
    ++speechRunning_;
}

void PolishSpeed::speechEnded() {
    {
        std::lock_guard guard(lock_);
        --speechRunning_;
    }
    speechIdle_.notify_all();
}

bool PolishSpeed::waitForSpeechIdle(std::chrono::milliseconds limit) const {
    std::unique_lock guard(lock_);
    return speechIdle_.wait_for(guard, limit, [this] { return speechRunning_ <= 0; });
}

Result<std::string> polishMeasured(PolishSpeed& speed, std::string_view text,
                                   const std::vector<std::string>& vocabulary, int port,
                                   double timeoutSeconds, std::stop_token stop,
                                   std::string_view apiKey) {
    HttpRequest request = Polisher::polishRequest(text, vocabulary, port, apiKey);
    request.stop = std::move(stop);
    if (timeoutSeconds > 0) {
        request.timeoutSeconds = timeoutSeconds;
    }
    const HttpResponse response = http(request);
    if (response.status == 200) {
        if (auto timings = readTimings(response.body)) {
            speed.record(*timings);
        }
    }
    if (auto answer = Polisher::readPolishAnswer(response.status, response.body)) {
        return std::move(*answer);
    }
    return Error{Error::Kind::polishFailed, Polisher::failureReason(response)};
}

double polishLimitSeconds() {
    return Polisher::polishRequest("", {}).timeoutSeconds;
}

double polishBudgetSeconds(double sinceRelease) {
    return std::clamp(kReleaseToTextSeconds - sinceRelease, 0.0, polishLimitSeconds());
}

PolishPlan planPolish(PolishSpeed& speed, std::string_view dictation, double limitSeconds) {
    PolishPlan plan;
    if (!speed.warmedUp()) {
        plan.outcome = PolishPlan::Outcome::notWarmedUp;
        plan.logLine = "IA omitida: aún se está cargando";
        return plan;
    }
    plan.predictedSeconds = speed.predictSeconds(dictation);
    if (plan.predictedSeconds && *plan.predictedSeconds > limitSeconds) {
        plan.outcome = PolishPlan::Outcome::tooSlow;
        char line[96];
        std::snprintf(line, sizeof line, "IA omitida: equipo lento (%.1f s previstos)",
                      *plan.predictedSeconds);
        plan.logLine = line;
        speed.setTooSlow(true);
    }
    return plan;
}

} // namespace vozmo
