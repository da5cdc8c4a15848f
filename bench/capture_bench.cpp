// The capture thread's work per chunk (conversion, copy, level) for 1024 frames of 48 kHz
// stereo, and the memory a 300 s recording holds.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "fake_audio_input.h"
#include "recorder.h"

namespace {

constexpr std::size_t chunkFrames = 1024;
constexpr double rate = 48000.0;
constexpr double recordingSeconds = 300.0;

// CPU time of this thread: the machine may be busy with other work, which wall time would count.
double threadMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Speech-like input: a few partials with a slow envelope, different in every chunk.
std::vector<std::vector<float>> makeChunks(std::size_t count) {
    std::vector<std::vector<float>> chunks(count);
    std::size_t frame = 0;
    for (auto& chunk : chunks) {
        chunk.resize(chunkFrames * 2);
        for (std::size_t i = 0; i < chunkFrames; ++i, ++frame) {
            const double t = static_cast<double>(frame) / rate;
            const double envelope = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 3.0 * t);
            const double x = envelope * (0.3 * std::sin(2.0 * std::numbers::pi * 220.0 * t) +
                                         0.1 * std::sin(2.0 * std::numbers::pi * 1700.0 * t));
            chunk[2 * i] = static_cast<float>(x);
            chunk[2 * i + 1] = static_cast<float>(0.9 * x);
        }
    }
    return chunks;
}

} // namespace

int main() {
    using Clock = std::chrono::steady_clock;
    const auto chunks = makeChunks(64);
    vozmo::test::FakeAudioSource source;
    source.setup.format = vozmo::AudioFormat{2, rate};
    vozmo::Recorder recorder{[&] { return source.make(); }};
    float levels = 0.0f;
    recorder.onLevel = [&](float level) { levels += level; };

    const double before = residentBytes();
    if (recorder.start()) {
        std::fprintf(stderr, "capture_bench: the recorder did not start\n");
        return 1;
    }
    const auto total =
        static_cast<std::size_t>(std::ceil(recordingSeconds * rate / chunkFrames));
    const double cpu0 = threadMicros();
    const auto wall0 = Clock::now();
    for (std::size_t i = 0; i < total; ++i) {
        source.current->deliver(chunks[i % chunks.size()]);
    }
    const double cpu = threadMicros() - cpu0;
    const double wall = std::chrono::duration<double, std::micro>(Clock::now() - wall0).count();
    const double held = residentBytes() - before;
    const auto recording = recorder.stop();

    const auto n = static_cast<double>(total);
    std::printf("capture_chunk: %.1f us (target <= 50 us; CPU time per chunk over %zu chunks, "
                "wall %.1f us)\n",
                cpu / n, total, wall / n);
    std::printf("recording_300s_memory: %.2f MB (target <= 23.04 MB; %zu samples)\n", held / 1e6,
                recording.samples.size());
    return levels > 0.0f ? 0 : 1;
}
