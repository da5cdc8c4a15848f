#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "audio_input.h"

namespace vozmo::test {

// A capture source without a sound server. The test decides the native format (or the error
// of opening it) and hands chunks in itself with deliver(), or lets start() run a capture
// thread that repeats one chunk until stopped, like a real source.
class FakeAudioInput final : public AudioInput {
public:
    struct Setup {
        AudioFormat format{1, 16000.0};
        std::optional<AudioInputError> openError;
        std::optional<AudioInputError> startError;
        std::vector<float> repeatedChunk; // played by a capture thread when not empty
    };

    explicit FakeAudioInput(Setup setup) : setup_(std::move(setup)) {}
    ~FakeAudioInput() override { stop(); }

    std::optional<AudioInputError> open(AudioFormat& format) override {
        if (setup_.openError) {
            return setup_.openError;
        }
        format = setup_.format;
        return std::nullopt;
    }

    std::optional<AudioInputError> start(ChunkHandler handler) override {
        if (setup_.startError) {
            return setup_.startError;
        }
        handler_ = std::move(handler);
        if (!setup_.repeatedChunk.empty()) {
            running_ = true;
            thread_ = std::thread([this] {
                while (running_.load()) {
                    handler_(setup_.repeatedChunk);
                    std::this_thread::yield();
                }
            });
        }
        return std::nullopt;
    }

    void stop() override {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
        handler_ = nullptr;
    }

    // One chunk, on the calling thread; ignored once stopped.
    void deliver(std::span<const float> interleaved) {
        if (handler_) {
            handler_(interleaved);
        }
    }

private:
    Setup setup_;
    ChunkHandler handler_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

// Makes FakeAudioInputs for a Recorder and keeps a pointer to the current one, so the test can
// feed it. The pointer is the recorder's session: valid until its next start or stop.
struct FakeAudioSource {
    FakeAudioInput::Setup setup;
    FakeAudioInput* current = nullptr;
    int opened = 0;

    std::unique_ptr<AudioInput> make() {
        auto input = std::make_unique<FakeAudioInput>(setup);
        current = input.get();
        ++opened;
        return input;
    }
};

} // namespace vozmo::test
