#include "polish_speed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

TEST(PolishTimingsAnswer, ReadsTheServersFiguresLeniently) {
    const struct {
        const char* body;
        bool present;
        double prompt;
        double predicted;
    } cases[] = {
        {R"({"timings":{"prompt_n":620,"prompt_ms":20666.7,"prompt_per_second":30.0,
            "predicted_n":13,"predicted_ms":2000,"predicted_per_second":6.5}})",
         true, 30.0, 6.5},
        // Only counts and milliseconds: the rates follow from them.
        {R"({"timings":{"prompt_n":40,"prompt_ms":2000,"predicted_n":10,"predicted_ms":1000}})",
         true, 20.0, 10.0},
        {R"({"timings":{"prompt_per_second":"fast","predicted_per_second":-3}})", false, 0, 0},
        {R"({"timings":{"prompt_n":0,"prompt_ms":0,"predicted_n":5,"predicted_ms":0}})", false, 0,
         0},
        {R"({"timings":[1,2]})", false, 0, 0},
        {R"({"choices":[]})", false, 0, 0},
        {R"(["timings"])", false, 0, 0},
        {"not json", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto timings = readTimings(std::string(c.body));
        ASSERT_EQ(timings.has_value(), c.present) << c.body;
        if (timings) {
            EXPECT_DOUBLE_EQ(timings->promptPerSecond, c.prompt) << c.body;
            EXPECT_DOUBLE_EQ(timings->predictedPerSecond, c.predicted) << c.body;
        }
    }
    EXPECT_FALSE(readTimings(std::nullopt));
}

TEST(PolishPrediction, FollowsTheMeasuredSpeedsAndTheDictationsLength) {
    // Characters, not bytes: "ñ" and "á" are one each.
    EXPECT_DOUBLE_EQ(estimatedTokens("mañana está"), 11 / 3.5);
    const PolishTimings slow{30.0, 6.5, 620, 13};
    // A 15-word dictation on the two-core machine: about 5 s, under the limit.
    const std::string fifteen =
        "oye mañana tenemos la reunión con el cliente a las diez en la sala grande";
    const double fifteenSeconds = predictedPolishSeconds(fifteen, slow);
    EXPECT_GT(fifteenSeconds, 3.5);
    EXPECT_LT(fifteenSeconds, 6.0);
    // Thirty words pass the 8 s limit.
    EXPECT_GT(predictedPolishSeconds(fifteen + " y después comemos juntos en el restaurante "
                                               "de siempre si te parece bien a ti",
                                     slow),
              8.0);
    // Ten times the speed, a tenth of the time.
    const PolishTimings fast{300.0, 65.0, 620, 13};
    EXPECT_NEAR(predictedPolishSeconds(fifteen, fast), fifteenSeconds / 10, 1e-9);
}

TEST(PolishSpeedRecord, IgnoresFiguresDrawnFromTooFewTokens) {
    PolishSpeed speed;
    EXPECT_FALSE(speed.predictSeconds("hola"));
    speed.record({30.0, 6.5, 620, 13});
    // Three prompt tokens and one answer token: the rates are mostly request overhead.
    speed.record({3.0, 1.0, 3, 1});
    EXPECT_DOUBLE_EQ(speed.speeds()->promptPerSecond, 30.0);
    EXPECT_DOUBLE_EQ(speed.speeds()->predictedPerSecond, 6.5);
    // A real polish updates both.
    speed.record({25.0, 6.0, 45, 20});
    EXPECT_DOUBLE_EQ(speed.speeds()->promptPerSecond, 25.0);
    EXPECT_DOUBLE_EQ(speed.speeds()->predictedPerSecond, 6.0);
    speed.reset();
    EXPECT_FALSE(speed.speeds());
}

TEST(PolishPlanDecision, SkipsWhatWouldMakeTheUserWait) {
    const std::string dictation(140, 'a'); // 40 tokens in, 40 out
    struct Case {
        const char* what;
        bool warmedUp;
        std::optional<PolishTimings> speeds;
        PolishPlan::Outcome outcome;
        const char* log;
    };
    const Case cases[] = {
        {"still warming up", false, PolishTimings{300, 60, 600, 10},
         PolishPlan::Outcome::notWarmedUp, "IA omitida: aún se está cargando"},
        {"no speed known", true, std::nullopt, PolishPlan::Outcome::polish, ""},
        {"fast enough", true, PolishTimings{300, 60, 600, 10}, PolishPlan::Outcome::polish, ""},
        // (40 + 14 of template) / 30 + 40 / 6.5 ≈ 7.95 s: past the limit.
        {"too slow", true, PolishTimings{30, 6.5, 600, 10}, PolishPlan::Outcome::tooSlow,
         "IA omitida: equipo lento (8.0 s previstos)"},
    };
    for (const auto& c : cases) {
        PolishSpeed speed;
        if (c.speeds) {
            speed.record(*c.speeds);
        }
        speed.setWarmedUp(c.warmedUp);
        const PolishPlan plan = planPolish(speed, dictation, 7.5);
        EXPECT_EQ(plan.outcome, c.outcome) << c.what;
        EXPECT_EQ(plan.logLine, c.log) << c.what;
        EXPECT_EQ(speed.tooSlow(), c.outcome == PolishPlan::Outcome::tooSlow) << c.what;
    }
}

// The polish gets what is left of the release-to-text allowance after the speech, capped by the
// request's own limit, and never a negative time.
TEST(PolishBudget, WhatIsLeftAfterTheSpeech) {
    const double limit = polishLimitSeconds();
    const struct {
        double sinceRelease;
        double budget;
    } cases[] = {
        {0.0, std::min(limit, kReleaseToTextSeconds)},
        {1.5, std::min(limit, kReleaseToTextSeconds - 1.5)},
        {6.7, kReleaseToTextSeconds - 6.7},
        {kReleaseToTextSeconds, 0.0},
        {30.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(polishBudgetSeconds(c.sinceRelease), c.budget, 1e-9) << c.sinceRelease;
    }
    // After a slow transcription a polish that would fit the request's limit alone is skipped.
    PolishSpeed speed;
    speed.record(PolishTimings{30, 6.5, 600, 10});
    speed.setWarmedUp(true);
    const std::string dictation = "mañana a las diez tenemos la reunión con el cliente";
    ASSERT_LT(*speed.predictSeconds(dictation), limit);
    EXPECT_EQ(planPolish(speed, dictation, polishBudgetSeconds(0.5)).outcome,
              PolishPlan::Outcome::polish);
    EXPECT_EQ(planPolish(speed, dictation, polishBudgetSeconds(6.7)).outcome,
              PolishPlan::Outcome::tooSlow);
}

TEST(PolishSpeedActivity, WaitsForEveryTranscriptionToEnd) {
    PolishSpeed speed;
    EXPECT_TRUE(speed.waitForSpeechIdle(0ms));
    std::optional<PolishSpeed::SpeechGuard> first(&speed);
    { PolishSpeed::SpeechGuard second(&speed); }
    EXPECT_FALSE(speed.waitForSpeechIdle(50ms)); // the first still runs
    std::thread ender([&] {
        std::this_thread::sleep_for(100ms);
        first.reset();
    });
    EXPECT_TRUE(speed.waitForSpeechIdle(10s));
    ender.join();
}

} // namespace
} // namespace vozmo
