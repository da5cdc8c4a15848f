// Speech figures: WAV encoding throughput for the longest recording, and the wall time of one
// transcription upload against curl posting the same file to the same stand-in server.
#include "standin.h"
#include "temp_home.h"
#include "transcribe.h"
#include "wav.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace vozmo;

constexpr std::size_t kSamples = 300 * 16000; // the longest recording the controller allows

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::filesystem::path findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::vector<float> speechLikeSamples() {
    std::vector<float> samples(kSamples);
    std::uint32_t state = 12345;
    for (auto& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<float>(state >> 8) / static_cast<float>(1u << 23) - 1.0f; // [-1, 1)
    }
    return samples;
}

void wavFigure(const std::vector<float>& samples) {
    std::vector<double> runs;
    std::size_t bytes = 0;
    for (int i = 0; i < 30; ++i) {
        const auto start = Clock::now();
        const auto wav = wavData(samples);
        runs.push_back(seconds(Clock::now() - start));
        bytes = wav ? wav->size() : 0;
    }
    std::printf("wavData_throughput: %.2f GB/s (target >= 1 GB/s)\n",
                static_cast<double>(bytes) / median(runs) / 1e9);
}

int uploadFigure(const std::string& wav) {
    test::TempHome home;
    ensureSupport();
    test::StandinDir dir;
    // Bodies of 9.6 MB are not copied into the record: that would time the stand-in, not us.
    dir.configure(test::StandinKind::Whisper, {{"text", " Prueba.\n"}, {"record_bodies", false}});
    test::Standin whisper(test::StandinKind::Whisper, dir);
    if (!whisper.waitUntilListening()) {
        std::fprintf(stderr, "speech_bench: the whisper stand-in did not start\n");
        return 1;
    }
    const auto wavFile = dir.path() / "audio.wav";
    test::writeFile(wavFile, wav);
    const auto curl = findOnPath("curl");
    if (curl.empty()) {
        std::fprintf(stderr, "speech_bench: curl not found\n");
        return 1;
    }
    const std::vector<std::string> curlArgv{curl.string(),
                                            "-s",
                                            "-o",
                                            "/dev/null",
                                            "-F",
                                            "response_format=json",
                                            "-F",
                                            "temperature=0.0",
                                            "-F",
                                            "language=es",
                                            "-F",
                                            "file=@" + wavFile.string() + ";type=audio/wav",
                                            whisper.url("/inference")};

    std::vector<double> ours, theirs;
    for (int i = 0; i < 7; ++i) { // alternated, so drift on a shared machine hits both alike
        auto start = Clock::now();
        const auto text = transcribe(wav, "es", "", whisper.port());
        ours.push_back(seconds(Clock::now() - start));
        if (text != " Prueba.\n") {
            std::fprintf(stderr, "speech_bench: transcription failed\n");
            return 1;
        }
        start = Clock::now();
        test::ChildProcess process(curlArgv);
        const auto status = process.wait(std::chrono::seconds(120));
        theirs.push_back(seconds(Clock::now() - start));
        if (!status || *status != 0) {
            std::fprintf(stderr, "speech_bench: curl failed\n");
            return 1;
        }
    }
    std::printf("transcribe_vs_curl: %.2f x (target <= 1.2; %.1f ms vs %.1f ms for 300 s)\n",
                median(ours) / median(theirs), median(ours) * 1e3, median(theirs) * 1e3);
    return 0;
}

} // namespace

int main() {
    const auto samples = speechLikeSamples();
    wavFigure(samples);
    const auto wav = wavData(samples);
    return wav ? uploadFigure(*wav) : 1;
}
