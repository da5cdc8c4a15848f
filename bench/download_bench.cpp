// Memory and speed of one model download from a local server: the body is streamed to disk,
// so the process must not grow with the file.
#include "config.h"
#include "downloader.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace {

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench URL BYTES\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string url = argv[1];
    const std::int64_t bytes = std::atoll(argv[2]);
    std::string root = (std::filesystem::temp_directory_path() / "vozmo-bench-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    ::setenv("no_proxy", "127.0.0.1", 1);
    vozmo::initConfig({"download_bench"});

    vozmo::Downloader downloader(
        std::vector<vozmo::ModelSpec>{{"Whisper", url, vozmo::config().whisperModelPath, bytes}});
    bool ok = false;
    downloader.onFinish = [&](const vozmo::Outcome& outcome) {
        ok = outcome.ok();
        QCoreApplication::quit();
    };
    const long before = peakRssKb();
    const auto started = std::chrono::steady_clock::now();
    QTimer::singleShot(0, [&] { downloader.start(); });
    app.exec();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long growthMb = (peakRssKb() - before) / 1024;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    if (!ok) {
        std::fprintf(stderr, "download_bench: the download failed\n");
        return 1;
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("download_peak_memory_growth: %ld MB (target < 32 MB for a %.0f MB file)\n",
                growthMb, megabytes);
    std::printf("download_local_throughput: %.0f MB/s (target none; local server)\n",
                megabytes / seconds);
    return 0;
}
