// Recording the test desktop's PulseAudio: speech from espeak-ng played into the null sink whose
// monitor is the default source.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio_input.h"
#include "desktop_support.h"
#include "recorder.h"
#include "temp_home.h"

namespace vozmo {
namespace {

using test::run;
using test::waitFor;

constexpr float silencePeak = 0.006f;

std::string sink() {
    const char* name = std::getenv("VOZMO_TEST_SINK");
    return name != nullptr ? name : "vsink";
}

// Speech as a WAV file, and how long it lasts.
struct Speech {
    std::filesystem::path file;
    double seconds = 0.0;
};

std::optional<Speech> makeSpeech(const std::filesystem::path& folder) {
    Speech speech{folder / "speech.wav"};
    if (run({"espeak-ng", "-v", "es", "-w", speech.file.string(),
             "Hola, esto es una prueba de grabación con el micrófono predeterminado."}) != 0) {
        return std::nullopt;
    }
    std::ifstream in(speech.file, std::ios::binary);
    unsigned char header[44] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof(header))) {
        return std::nullopt;
    }
    const unsigned byteRate =
        header[28] | (header[29] << 8) | (header[30] << 16) | (unsigned(header[31]) << 24);
    const auto bytes = std::filesystem::file_size(speech.file) - sizeof(header);
    speech.seconds = static_cast<double>(bytes) / byteRate;
    return speech;
}

bool play(const Speech& speech, const std::string& device) {
    return run({"paplay", "--device=" + device, speech.file.string()}) == 0;
}

// Levels as the capture thread reports them.
class Levels {
public:
    void attach(Recorder& recorder) {
        recorder.onLevel = [this](float level) {
            std::lock_guard guard(lock_);
            levels_.push_back(level);
            onTestThread_ = onTestThread_ || std::this_thread::get_id() == testThread_;
        };
    }
    // Levels come from the capture thread only, never from inside start() or stop().
    bool anyOnTestThread() {
        std::lock_guard guard(lock_);
        return onTestThread_;
    }
    std::size_t count() {
        std::lock_guard guard(lock_);
        return levels_.size();
    }
    // The loudest level reported from index `from` to `to`.
    float loudest(std::size_t from, std::size_t to) {
        std::lock_guard guard(lock_);
        to = std::min(to, levels_.size());
        float most = 0.0f;
        for (std::size_t i = from; i < to; ++i) {
            most = std::max(most, levels_[i]);
        }
        return most;
    }
    bool waitForMore(std::size_t chunks) {
        const std::size_t target = count() + chunks;
        return waitFor([&] { return count() >= target; });
    }

private:
    std::mutex lock_;
    std::vector<float> levels_;
    const std::thread::id testThread_ = std::this_thread::get_id();
    bool onTestThread_ = false;
};

// Seconds of the recording whose 64 ms windows are clearly above silence.
double loudSeconds(const std::vector<float>& samples) {
    constexpr std::size_t window = 1024;
    std::size_t loud = 0;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        if (Recorder::level(std::span(samples).subspan(at, window)) > 0.01f) {
            loud += window;
        }
    }
    return static_cast<double>(loud) / 16000.0;
}

TEST(RecorderDesktop, RecordsSpeechPlayedIntoTheDefaultSource) {
    test::TempHome home;
    const auto speech = makeSpeech(home.path());
    ASSERT_TRUE(speech) << "espeak-ng could not speak";

    Levels levels; // outlives the recorder, whose capture thread reports into it
    Recorder recorder;
    levels.attach(recorder);
    const auto error = recorder.start();
    ASSERT_FALSE(error) << error->description;
    ASSERT_TRUE(levels.waitForMore(10)) << "no chunks arrive";
    const std::size_t beforePlay = levels.count();
    ASSERT_TRUE(play(*speech, sink()));
    const std::size_t afterPlay = levels.count();
    ASSERT_TRUE(levels.waitForMore(10));
    const auto recording = recorder.stop();

    EXPECT_GE(static_cast<double>(recording.samples.size()), speech->seconds * 16000.0);
    EXPECT_GT(recording.peak, 0.05f);
    EXPECT_LT(levels.loudest(0, beforePlay), silencePeak) << "quiet before the speech";
    EXPECT_GT(levels.loudest(beforePlay, afterPlay + 10), 0.05f) << "levels rise while it plays";
    EXPECT_GT(loudSeconds(recording.samples), speech->seconds * 0.5) << "the speech is held";
    EXPECT_FALSE(levels.anyOnTestThread());
}

TEST(RecorderDesktop, SilenceStaysBelowTheSpeechThreshold) {
    Levels levels; // outlives the recorder, whose capture thread reports into it
    Recorder recorder;
    levels.attach(recorder);
    const auto error = recorder.start();
    ASSERT_FALSE(error) << error->description;
    ASSERT_TRUE(levels.waitForMore(30));
    const auto recording = recorder.stop();
    EXPECT_GT(recording.samples.size(), 0u);
    EXPECT_LT(recording.peak, silencePeak);
}

TEST(RecorderDesktop, TwoRecordingsInARowAnswerOnlyTheSecond) {
    test::TempHome home;
    const auto speech = makeSpeech(home.path());
    ASSERT_TRUE(speech);
    Levels levels; // outlives the recorder, whose capture thread reports into it
    Recorder recorder;
    levels.attach(recorder);

    ASSERT_FALSE(recorder.start());
    ASSERT_TRUE(levels.waitForMore(5));
    ASSERT_TRUE(play(*speech, sink()));
    const auto first = recorder.stop();
    ASSERT_GT(first.peak, 0.05f);

    ASSERT_FALSE(recorder.start());
    ASSERT_TRUE(levels.waitForMore(20));
    const auto second = recorder.stop();
    EXPECT_LT(second.peak, silencePeak) << "the first recording's speech is gone";
    EXPECT_LT(second.samples.size(), first.samples.size());
    EXPECT_LT(loudSeconds(second.samples), 0.1);
}

TEST(RecorderDesktop, EveryStartFollowsTheDefaultSource) {
    test::TempHome home;
    const auto speech = makeSpeech(home.path());
    ASSERT_TRUE(speech);
    std::string index;
    ASSERT_EQ(run({"pactl", "load-module", "module-null-sink", "sink_name=vozmo_other"}, &index),
              0);
    struct Restore {
        std::string module;
        ~Restore() {
            run({"pactl", "set-default-source", sink() + ".monitor"});
            run({"pactl", "unload-module", module});
        }
    } restore{index.substr(0, index.find_first_of("\r\n"))};

    Levels levels; // outlives the recorder, whose capture thread reports into it
    Recorder recorder;
    levels.attach(recorder);
    ASSERT_FALSE(recorder.start()); // on the first sink's monitor
    ASSERT_TRUE(levels.waitForMore(5));
    ASSERT_EQ(run({"pactl", "set-default-source", "vozmo_other.monitor"}), 0);
    ASSERT_TRUE(play(*speech, "vozmo_other"));
    EXPECT_LT(recorder.stop().peak, silencePeak) << "a running recording keeps its source";

    ASSERT_FALSE(recorder.start()); // now on the new default
    ASSERT_TRUE(levels.waitForMore(5));
    ASSERT_TRUE(play(*speech, "vozmo_other"));
    EXPECT_GT(recorder.stop().peak, 0.05f);
}

TEST(MicrophoneDesktop, StatusAndStartFollowTheServer) {
    EXPECT_EQ(microphoneStatus(), MicrophoneStatus::authorized);

    const std::string real =
        std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "";
    ::setenv("PULSE_SERVER", "unix:/nonexistent/vozmo-no-server", 1);
    struct Restore {
        std::string value;
        ~Restore() {
            if (value.empty()) {
                ::unsetenv("PULSE_SERVER");
            } else {
                ::setenv("PULSE_SERVER", value.c_str(), 1);
            }
        }
    } restore{real};

    EXPECT_EQ(microphoneStatus(), MicrophoneStatus::restricted);
    Recorder recorder;
    std::atomic<int> levels{0};
    recorder.onLevel = [&](float) { ++levels; };
    const auto error = recorder.start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, Recorder::RecError::noInput);
    EXPECT_NE(error->description.find("servidor"), std::string::npos) << error->description;
    const auto recording = recorder.stop();
    EXPECT_TRUE(recording.samples.empty());
    EXPECT_EQ(recording.peak, 0.0f);
    EXPECT_EQ(levels.load(), 0);
}

} // namespace
} // namespace vozmo
