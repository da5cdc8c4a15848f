#include "segmented_transcription.h"

#include "speech_window.h"
#include "standin.h"
#include "temp_home.h"
#include "transcribe.h"
#include "wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::StandinKind;
using Clock = std::chrono::steady_clock;

// Recordings play this many times faster than real time, and the stand-in's speeds with them.
constexpr double kFaster = 8.0;

SegmentedTranscription::Settings settings() {
    SegmentedTranscription::Settings s;
    s.prompt = "Hola, ¿qué tal? Bien, gracias.";
    s.holdSamples = kSmallestWindowSamples - s.leadingSilence;
    s.window = [](std::size_t samples) { return speechWindowFrames(samples); };
    s.poll = 20ms;
    return s;
}

class SegmentedTranscriptionTest : public ::testing::Test {
protected:
    // Whisper's time at `secondsPerWindowSecond` (0.12 for the small model on two cores, 0.87
    // for the large one), sped up like the recording.
    void serverSpeed(double secondsPerWindowSecond) {
        std::vector<std::string> words = test::toneWordNames();
        dir.configure(StandinKind::Whisper,
                      {{"tone_words", words},
                       {"window_seconds", 30.0 * secondsPerWindowSecond / kFaster},
                       {"record_bodies", false}});
    }

    struct Outcome {
        Result<std::string> text = Error{Error::Kind::cancelled, {}};
        double releaseToText = 0; // seconds, at real-time scale
        int requests = 0;
        int early = 0;
    };

    // Plays `audio` into a transcription as a recording that grows with the (sped-up) clock,
    // releases it at its end and waits for the text.
    Outcome dictate(const std::vector<float>& audio) {
        SegmentedTranscription pieces(settings());
        const auto started = Clock::now();
        auto recorded = [&] {
            const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            return std::min(audio.size(), static_cast<std::size_t>(seconds * kFaster * 16000));
        };
        std::optional<Result<std::string>> text;
        Clock::time_point finished;
        std::jthread worker([&](std::stop_token stop) {
            text = pieces.run(
                [&](std::size_t from, std::vector<float>& out) {
                    const std::size_t end = recorded();
                    if (from < end) {
                        out.insert(out.end(), audio.begin() + static_cast<std::ptrdiff_t>(from),
                                   audio.begin() + static_cast<std::ptrdiff_t>(end));
                    }
                },
                [&](std::span<const float> piece, const std::string& prompt,
                    std::stop_token requestStop) -> Result<std::string> {
                    const auto wav = wavData(piece);
                    auto answer = transcribe(*wav, "es", prompt, whisper.port(),
                                             speechWindowFrames(piece.size()), requestStop);
                    if (!answer) {
                        return Error{Error::Kind::transcriptionFailed, {}};
                    }
                    return *answer;
                },
                stop);
            finished = Clock::now();
        });
        while (recorded() < audio.size()) {
            std::this_thread::sleep_for(10ms);
        }
        const auto released = Clock::now();
        pieces.release(audio);
        worker.join();
        Outcome out;
        out.text = *text;
        out.releaseToText = std::chrono::duration<double>(finished - released).count() * kFaster;
        out.requests = pieces.requests();
        out.early = pieces.requestsBeforeRelease();
        return out;
    }

    test::TempHome home;
    test::StandinDir dir;
    test::Standin whisper{StandinKind::Whisper, dir};
};

TEST_F(SegmentedTranscriptionTest, TheWholeTranscriptWhateverTheCuts) {
    ASSERT_TRUE(whisper.waitUntilListening());
    struct Case {
        const char* name;
        double speed;
        double seconds;
        unsigned seed;
    };
    for (const Case c : {Case{"fast model", 0.12, 40, 1}, Case{"slow model", 0.87, 50, 2},
                         Case{"fast, other phrasing", 0.12, 30, 3}}) {
        serverSpeed(c.speed);
        const auto phrases = test::tonePhrases(c.seconds, c.seed);
        const Outcome out = dictate(test::toneWordAudio(phrases));
        ASSERT_TRUE(out.text) << c.name;
        EXPECT_EQ(*out.text, test::toneTranscript(phrases)) << c.name;
        EXPECT_GT(out.early, 0) << c.name << ": nothing was sent while recording";
        if (c.speed < 0.5) {
            // The server keeps up: at the release only the last stretch is left, if it has
            // sound in it.
            EXPECT_LE(out.requests - out.early, 1) << c.name;
        }
    }
}

TEST_F(SegmentedTranscriptionTest, AWordTooLongForOneRequestIsStillWhole) {
    // Words joined by gaps too short to be pauses for 40 s: the piece is cut at its longest, in
    // the quietest place, which is a gap between two words.
    ASSERT_TRUE(whisper.waitUntilListening());
    serverSpeed(0.12);
    std::vector<test::TonePhrase> phrases(1);
    for (int i = 0; i < 110; ++i) {
        phrases[0].words.push_back((i * 7) % 16);
    }
    const Outcome out = dictate(test::toneWordAudio(phrases));
    ASSERT_TRUE(out.text);
    EXPECT_EQ(*out.text, test::toneTranscript(phrases));
    EXPECT_GE(out.requests, 2);
}

TEST(SegmentedTranscription, AShortDictationIsOneRequestAtTheRelease) {
    // 5 s with pauses: it fits the smallest window, so nothing goes before the release.
    const auto audio = test::toneWordAudio({{{1, 2, 3, 4}, 0.8}, {{5, 6, 7}, 0.8}, {{8, 9}, 0.5}});
    ASSERT_LT(audio.size(), 6u * 16000);
    SegmentedTranscription pieces(settings());
    std::vector<std::size_t> sizes;
    std::jthread worker([&](std::stop_token stop) {
        auto text = pieces.run(
            [&](std::size_t from, std::vector<float>& out) {
                out.insert(out.end(), audio.begin() + static_cast<std::ptrdiff_t>(from),
                           audio.end());
            },
            [&](std::span<const float> piece, const std::string&,
                std::stop_token) -> Result<std::string> {
                sizes.push_back(piece.size());
                return std::string(" uno\n");
            },
            stop);
        EXPECT_TRUE(text);
    });
    std::this_thread::sleep_for(100ms);
    pieces.release(audio);
    worker.join();
    EXPECT_EQ(sizes, std::vector<std::size_t>{audio.size() + 4800});
}

TEST(SegmentedTranscription, AFailedPieceIsSentOnceMoreThenTheDictationFails) {
    const auto audio = test::toneWordAudio(test::tonePhrases(40, 5));
    struct Case {
        const char* name;
        int failures; // of the second request onwards
        Error::Kind kind;
        std::size_t calls; // at least
    };
    constexpr auto failed = Error::Kind::transcriptionFailed;
    constexpr auto timedOut = Error::Kind::transcriptionTimedOut;
    for (const Case c : {Case{"one failure", 1, failed, 3}, Case{"two failures", 2, failed, 3},
                         // The server is still busy with it: sent again, it would double the
                         // wait for the same answer.
                         Case{"a time-out", 1, timedOut, 2}}) {
        const bool ok = c.failures == 1 && c.kind != timedOut;
        SegmentedTranscription pieces(settings());
        std::vector<std::pair<std::size_t, std::string>> calls;
        int failuresLeft = c.failures;
        std::jthread worker([&](std::stop_token stop) {
            const auto text = pieces.run(
                {},
                [&](std::span<const float> piece, const std::string& prompt,
                    std::stop_token) -> Result<std::string> {
                    calls.emplace_back(piece.size(), prompt);
                    if (calls.size() >= 2 && failuresLeft > 0) {
                        --failuresLeft;
                        return Error{c.kind, "500"};
                    }
                    return " parte " + std::to_string(calls.size()) + "\n";
                },
                stop);
            EXPECT_EQ(text.ok(), ok) << c.name;
            if (!ok) {
                EXPECT_EQ(text.error().kind, c.kind) << c.name;
            }
        });
        pieces.release(audio);
        worker.join();
        ASSERT_GE(calls.size(), c.calls) << c.name;
        if (ok) {
            // The same piece, with the same prompt, again.
            EXPECT_EQ(calls[2], calls[1]) << c.name;
        } else {
            EXPECT_EQ(calls.size(), c.calls) << c.name << ": nothing is sent after the failure";
        }
    }
}

// Stretches without a sound cost the server time and make the model invent phrases: in a
// dictation with words they are never sent, while a recording with no sound at all is still
// asked about, as before. No sound is ever left out, even a word at the very start, before the
// recording has heard its background.
TEST(SegmentedTranscription, StretchesWithoutSoundAreNotSent) {
    const std::vector<float> spoken = test::toneWordAudio(test::tonePhrases(8, 2));
    const std::vector<float> word = test::toneWordAudio({{{5}, 0.0}});
    const std::vector<float> quiet(30 * 16000, 0.0f);
    auto joined = [](std::initializer_list<std::span<const float>> parts) {
        std::vector<float> audio;
        for (const auto part : parts) {
            audio.insert(audio.end(), part.begin(), part.end());
        }
        return audio;
    };
    const std::span<const float> tenSeconds(quiet.data(), 10 * 16000);
    struct Case {
        const char* name;
        std::vector<float> audio;
        std::size_t requests;
    };
    for (const Case& c :
         {Case{"words around silences", joined({spoken, quiet, spoken, tenSeconds}), 2},
          Case{"a word before anything else", joined({word, quiet, spoken}), 2},
          Case{"nothing but silence", quiet, 2}}) {
        SegmentedTranscription pieces(settings());
        std::size_t loudSent = 0;
        int requests = 0;
        std::jthread worker([&](std::stop_token stop) {
            const auto text = pieces.run(
                {},
                [&](std::span<const float> piece, const std::string&,
                    std::stop_token) -> Result<std::string> {
                    ++requests;
                    loudSent += static_cast<std::size_t>(std::count_if(
                        piece.begin(), piece.end(), [](float x) { return std::abs(x) > 0.1f; }));
                    return std::string(" parte\n");
                },
                stop);
            EXPECT_TRUE(text) << c.name;
        });
        pieces.release(c.audio);
        worker.join();
        EXPECT_EQ(static_cast<std::size_t>(requests), c.requests) << c.name;
        EXPECT_EQ(loudSent,
                  static_cast<std::size_t>(std::count_if(
                      c.audio.begin(), c.audio.end(), [](float x) { return std::abs(x) > 0.1f; })))
            << c.name << ": every sound goes out exactly once";
    }
}

TEST(SegmentedTranscription, APieceCarriesThePreviousTextInItsPrompt) {
    const auto audio = test::toneWordAudio(test::tonePhrases(40, 9));
    SegmentedTranscription pieces(settings());
    std::vector<std::string> prompts;
    std::jthread worker([&](std::stop_token stop) {
        const auto text = pieces.run(
            {},
            [&](std::span<const float>, const std::string& prompt,
                std::stop_token) -> Result<std::string> {
                prompts.push_back(prompt);
                return "  parte " + std::to_string(prompts.size()) + "\n";
            },
            stop);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, "parte 1 parte 2");
    });
    pieces.release(audio);
    worker.join();
    // Released at once, the whole recording goes in as few requests as fit the window.
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0], "Hola, ¿qué tal? Bien, gracias.");
    EXPECT_EQ(prompts[1], "Hola, ¿qué tal? Bien, gracias. parte 1");
}

TEST(SegmentedTranscription, AStopEndsTheRequestInFlight) {
    SegmentedTranscription pieces(settings());
    std::atomic<bool> inFlight = false;
    std::optional<Result<std::string>> text;
    std::jthread worker([&](std::stop_token stop) {
        text = pieces.run(
            {},
            [&](std::span<const float>, const std::string&,
                std::stop_token requestStop) -> Result<std::string> {
                inFlight = true;
                std::mutex m;
                std::unique_lock lock(m);
                std::condition_variable_any().wait(lock, requestStop, [] { return false; });
                return Error{Error::Kind::cancelled, {}};
            },
            stop);
    });
    pieces.release(test::toneWordAudio(test::tonePhrases(10, 4)));
    while (!inFlight) {
        std::this_thread::sleep_for(5ms);
    }
    worker.request_stop();
    worker.join();
    ASSERT_TRUE(text.has_value());
    ASSERT_FALSE(*text);
    EXPECT_EQ(text->error().kind, Error::Kind::cancelled);
    EXPECT_EQ(pieces.requests(), 1);
}

} // namespace
} // namespace vozmo
