// Recorder logic against a fake source: levels, peak, clearing, continuity across chunks.
#include <atomic>
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "fake_audio_input.h"
#include "recorder.h"

namespace vozmo {
namespace {

using test::FakeAudioSource;

std::vector<float> constant(std::size_t n, float value) {
    return std::vector<float>(n, value);
}

// Interleaved frames of a sine at `hz`, the same on every channel, from frame `first` on.
std::vector<float> sine(std::size_t frames, int channels, double rate, double hz,
                        std::size_t first = 0, float amplitude = 0.5f) {
    std::vector<float> out;
    out.reserve(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = first; i < first + frames; ++i) {
        const auto x = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
        for (int c = 0; c < channels; ++c) {
            out.push_back(x);
        }
    }
    return out;
}

struct Fixture {
    FakeAudioSource source;
    Recorder recorder{[this] { return source.make(); }};
    std::vector<float> levels;

    Fixture() {
        recorder.onLevel = [this](float level) { levels.push_back(level); };
    }
};

TEST(RecorderLevel, IsTheRootMeanSquareOfTheChunk) {
    struct Case {
        std::vector<float> chunk;
        float level;
    };
    const std::vector<Case> cases = {
        {constant(341, 0.0f), 0.0f},      {constant(341, 0.5f), 0.5f},
        {constant(341, -0.5f), 0.5f},     {{1.0f, -1.0f, 1.0f, -1.0f}, 1.0f},
        {{0.0f, 0.0f, 0.0f, 2.0f}, 1.0f}, {{}, 0.0f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(Recorder::level(c.chunk), c.level) << "chunk of " << c.chunk.size();
    }
}

TEST(Recorder, ReportsEachChunkLevelAndKeepsTheLoudest) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    const auto loud = constant(1024, 0.5f);
    const auto quiet = constant(1024, 0.25f);
    const auto silent = constant(1024, 0.0f);
    f.source.current->deliver(quiet);
    f.source.current->deliver(loud);
    f.source.current->deliver(silent);
    f.source.current->deliver(quiet);
    const auto recording = f.recorder.stop();

    EXPECT_EQ(f.levels, (std::vector<float>{0.25f, 0.5f, 0.0f, 0.25f}));
    EXPECT_FLOAT_EQ(recording.peak, 0.5f);
    ASSERT_EQ(recording.samples.size(), 4u * 1024u);
    EXPECT_FLOAT_EQ(recording.samples[1024], 0.5f);
    EXPECT_FLOAT_EQ(recording.samples[2048], 0.0f);
}

TEST(Recorder, SilenceLeavesThePeakAtZero) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(1024, 0.0f));
    const auto recording = f.recorder.stop();
    EXPECT_EQ(recording.samples.size(), 1024u);
    EXPECT_EQ(recording.peak, 0.0f);
    EXPECT_EQ(f.levels, std::vector<float>{0.0f});
}

TEST(Recorder, StopWithoutChunksAnswersNothing) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    const auto recording = f.recorder.stop();
    EXPECT_TRUE(recording.samples.empty());
    EXPECT_EQ(recording.peak, 0.0f);
    // And stop before any start, or twice, is harmless.
    Recorder idle{[] { return nullptr; }};
    EXPECT_TRUE(idle.stop().samples.empty());
    EXPECT_TRUE(idle.stop().samples.empty());
}

TEST(Recorder, TwoRecordingsInARowAnswerOnlyTheSecond) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(1024, 0.5f));
    f.source.current->deliver(constant(1024, 0.5f));
    EXPECT_EQ(f.recorder.stop().samples.size(), 2048u);

    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(512, 0.25f));
    const auto second = f.recorder.stop();
    EXPECT_EQ(second.samples, constant(512, 0.25f));
    EXPECT_FLOAT_EQ(second.peak, 0.25f);
    EXPECT_EQ(f.source.opened, 2) << "every start opens the default source anew";
}

TEST(Recorder, StopKeepsTheRecordingUntilTheNextStart) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(100, 0.5f));
    EXPECT_EQ(f.recorder.stop().samples.size(), 100u);
    EXPECT_EQ(f.recorder.stop().samples.size(), 100u);
}

// take() hands the recording over once, with room left for the controller's leading silence, and
// the next recording starts from a buffer of its own.
TEST(Recorder, TakeHandsTheRecordingOverOnce) {
    Fixture f;
    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(100, 0.5f));
    auto taken = f.recorder.take();
    EXPECT_EQ(taken.samples, constant(100, 0.5f));
    EXPECT_FLOAT_EQ(taken.peak, 0.5f);
    EXPECT_GE(taken.samples.capacity(), 100u + 4800u);
    EXPECT_TRUE(f.recorder.stop().samples.empty());
    EXPECT_TRUE(f.recorder.take().samples.empty());
    EXPECT_FLOAT_EQ(f.recorder.stop().peak, 0.0f);

    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(constant(50, 0.25f));
    EXPECT_EQ(f.recorder.take().samples, constant(50, 0.25f));
    EXPECT_EQ(taken.samples.size(), 100u) << "the first recording is not touched by the second";
}

TEST(Recorder, FailedStartsReportTheirKindAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        FakeAudioSource setup;
        Recorder::RecError kind;
    };
    std::vector<Case> cases(4);
    cases[0] = {"no server", {}, Recorder::RecError::noInput};
    cases[0].setup.setup.openError = AudioInputError{true, "no hay entrada de audio: sin servidor"};
    cases[1] = {"no channels", {}, Recorder::RecError::noInput};
    cases[1].setup.setup.format = AudioFormat{0, 48000.0};
    cases[2] = {"no rate", {}, Recorder::RecError::noInput};
    cases[2].setup.setup.format = AudioFormat{2, 0.0};
    cases[3] = {"stream refused", {}, Recorder::RecError::engine};
    cases[3].setup.setup.startError = AudioInputError{false, "la captura falló al empezar"};

    for (auto& c : cases) {
        Fixture f;
        // A previous good recording, so the failed start must clear it.
        ASSERT_FALSE(f.recorder.start());
        f.source.current->deliver(constant(1024, 0.5f));
        f.recorder.stop();

        f.source.setup = c.setup.setup;
        const auto error = f.recorder.start();
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->kind, c.kind) << c.name;
        EXPECT_FALSE(error->description.empty()) << c.name;
        const auto recording = f.recorder.stop();
        EXPECT_TRUE(recording.samples.empty()) << c.name;
        EXPECT_EQ(recording.peak, 0.0f) << c.name;
    }
}

TEST(Recorder, ConvertsTo16kMonoContinuouslyAcrossChunks) {
    // Stereo in chunks, against the same signal in one piece: a converter restarted per chunk
    // would click at every boundary and the two would differ. Chunk sizes that are not whole
    // multiples of the rate ratio carry a remainder into the next chunk.
    struct Case {
        double rate;
        std::size_t chunk;
    };
    const std::vector<Case> cases = {
        {48000.0, 1024}, {48000.0, 1000}, {96000.0, 777}, {44100.0, 1024}, {44100.0, 1001}};
    for (const auto& c : cases) {
        const std::size_t chunks = static_cast<std::size_t>(c.rate) / c.chunk; // about 1 s
        const std::string label = std::to_string(c.rate) + " / " + std::to_string(c.chunk);

        Fixture chunked;
        chunked.source.setup.format = AudioFormat{2, c.rate};
        ASSERT_FALSE(chunked.recorder.start());
        for (std::size_t i = 0; i < chunks; ++i) {
            chunked.source.current->deliver(sine(c.chunk, 2, c.rate, 440.0, i * c.chunk));
        }
        const auto pieces = chunked.recorder.stop();

        Fixture whole;
        whole.source.setup.format = AudioFormat{2, c.rate};
        ASSERT_FALSE(whole.recorder.start());
        whole.source.current->deliver(sine(c.chunk * chunks, 2, c.rate, 440.0));
        const auto once = whole.recorder.stop();

        const double expected = static_cast<double>(c.chunk * chunks) * 16000.0 / c.rate;
        EXPECT_NEAR(static_cast<double>(pieces.samples.size()), expected, 64.0) << label;
        // One level per chunk that gave output (the first may only fill the filter).
        EXPECT_GE(chunked.levels.size(), chunks - 1) << label;
        EXPECT_LE(chunked.levels.size(), chunks) << label;
        const std::size_t n = std::min(pieces.samples.size(), once.samples.size());
        ASSERT_GT(static_cast<double>(n), expected - 200.0) << label;
        double worst = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            worst = std::max(worst,
                             static_cast<double>(std::fabs(pieces.samples[i] - once.samples[i])));
        }
        EXPECT_LT(worst, 1e-4) << label;

        // Past the filter's start-up, a 440 Hz sine of amplitude 0.5 keeps its level (0.354).
        const std::vector<float> steady(pieces.samples.begin() + 1000, pieces.samples.end());
        EXPECT_NEAR(Recorder::level(steady), 0.5 / std::numbers::sqrt2, 0.01) << label;
        EXPECT_NEAR(pieces.peak, 0.5 / std::numbers::sqrt2, 0.02) << label;
    }
}

TEST(Recorder, KeepsSpeechAndDropsWhatWouldFoldBack) {
    // Each native rate, a tone in the speech band and one above 8 kHz (which 16 kHz cannot
    // hold and would alias into the band). Levels past the filter's start-up.
    struct Case {
        double rate;
        double hz;
        float level; // expected level of a sine of amplitude 0.5
        float tolerance;
    };
    const float full = static_cast<float>(0.5 / std::numbers::sqrt2);
    const std::vector<Case> cases = {
        {48000.0, 440.0, full, 0.01f},    {48000.0, 3000.0, full, 0.01f},
        {48000.0, 5000.0, full, 0.02f},   {48000.0, 12000.0, 0.0f, 0.001f},
        {48000.0, 9000.0, 0.0f, 0.001f},  {96000.0, 440.0, full, 0.01f},
        {96000.0, 30000.0, 0.0f, 0.001f}, {32000.0, 3000.0, full, 0.01f},
        {32000.0, 12000.0, 0.0f, 0.001f}, {44100.0, 440.0, full, 0.01f},
        {44100.0, 3000.0, full, 0.01f},   {44100.0, 12000.0, 0.0f, 0.001f},
        {22050.0, 440.0, full, 0.01f},    {16000.0, 440.0, full, 0.01f},
        {8000.0, 440.0, full, 0.01f},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.source.setup.format = AudioFormat{2, c.rate};
        ASSERT_FALSE(f.recorder.start());
        std::size_t frames = 0;
        while (frames < static_cast<std::size_t>(c.rate / 2)) { // half a second
            f.source.current->deliver(sine(1024, 2, c.rate, c.hz, frames));
            frames += 1024;
        }
        const auto recording = f.recorder.stop();
        const std::string label = std::to_string(c.rate) + " Hz input, " + std::to_string(c.hz);
        EXPECT_NEAR(static_cast<double>(recording.samples.size()),
                    static_cast<double>(frames) * 16000.0 / c.rate, 64.0)
            << label;
        ASSERT_GT(recording.samples.size(), 2000u) << label;
        const std::vector<float> steady(recording.samples.begin() + 1000,
                                        recording.samples.end() - 200);
        EXPECT_NEAR(Recorder::level(steady), c.level, c.tolerance) << label;
    }
}

TEST(Recorder, AveragesChannelsIntoOne) {
    Fixture f;
    f.source.setup.format = AudioFormat{2, 16000.0};
    ASSERT_FALSE(f.recorder.start());
    f.source.current->deliver(std::vector<float>{0.5f, 0.0f, 1.0f, -1.0f, -0.25f, -0.75f});
    EXPECT_EQ(f.recorder.stop().samples, (std::vector<float>{0.25f, 0.0f, -0.5f}));
}

TEST(Recorder, StartAndStopWhileTheCaptureThreadDelivers) {
    // A source that delivers as fast as it can on its own thread: start, stop and destruction
    // must not race it (the sanitizer builds watch this).
    FakeAudioSource source;
    source.setup.format = AudioFormat{2, 48000.0};
    source.setup.repeatedChunk = sine(1024, 2, 48000.0, 440.0);
    std::atomic<int> levels{0};
    {
        Recorder recorder{[&] { return source.make(); }};
        recorder.onLevel = [&](float) { ++levels; };
        for (int round = 0; round < 5; ++round) {
            // Counted from this round's start: the thread may deliver many chunks of the last
            // round before its stop, and a total would let a round end before its first chunk.
            const int before = levels.load();
            ASSERT_FALSE(recorder.start());
            while (levels.load() < before + 20) {
                std::this_thread::yield();
            }
            const auto recording = recorder.stop();
            EXPECT_GT(recording.samples.size(), 0u);
        }
        ASSERT_FALSE(recorder.start()); // destroyed while recording
    }
    EXPECT_GE(levels.load(), 100);
}

} // namespace
} // namespace vozmo
