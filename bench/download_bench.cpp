// Model downloads from a local HTTPS server: the body is streamed to disk and hashed on the way,
// so the process must not grow with the file; and a transfer cut short is continued, not begun
// again, so little more than the file itself crosses the network.
#include "config.h"
#include "downloader.h"
#include "model_files.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Body bytes the server has sent so far, over every request (one count a line).
std::int64_t bytesSent(const std::string& log) {
    std::ifstream in(log);
    std::int64_t total = 0;
    for (std::string line; std::getline(in, line);) {
        total += std::atoll(line.c_str());
    }
    return total;
}

// The SHA-256 of the server's file of `size` bytes: byte i is i % 256.
std::string servedSha(std::int64_t size) {
    vozmo::Sha256 sum;
    std::string block(1 << 20, '\0');
    for (std::int64_t done = 0; done < size;) {
        const auto length = static_cast<std::size_t>(
            std::min<std::int64_t>(size - done, static_cast<std::int64_t>(block.size())));
        for (std::size_t i = 0; i < length; ++i) {
            block[i] = static_cast<char>((done + static_cast<std::int64_t>(i)) % 256);
        }
        sum.add(block.data(), length);
        done += static_cast<std::int64_t>(length);
    }
    return sum.hex();
}

// One run of a Downloader over `spec`; true when it ended with the file in place.
bool download(const vozmo::ModelSpec& spec, const std::string& certificate) {
    vozmo::Downloader downloader(std::vector<vozmo::ModelSpec>{spec});
    downloader.trustedCertificates = certificate;
    bool ok = false;
    downloader.onFinish = [&](const vozmo::Outcome& outcome) {
        ok = outcome.ok();
        QCoreApplication::quit();
    };
    QTimer::singleShot(0, [&] { downloader.start(); });
    QCoreApplication::exec();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: download_bench BASE_URL CERTIFICATE BYTES_LOG\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string base = argv[1];
    const std::string certificate = argv[2];
    const std::string bytesLog = argv[3];
    std::string root = (std::filesystem::temp_directory_path() / "vozmo-bench-XXXXXX").string();
    if (::mkdtemp(root.data()) == nullptr) {
        return 1;
    }
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    ::setenv("no_proxy", "127.0.0.1", 1);
    vozmo::initConfig({"download_bench"});
    const auto& dest = vozmo::config().whisperModelPath;
    int status = 0;

    // A gigabyte in one go.
    constexpr std::int64_t big = 1000000000;
    const long before = peakRssKb();
    const auto started = std::chrono::steady_clock::now();
    const bool whole =
        download({"Whisper", base + "/file/" + std::to_string(big), dest, big}, certificate);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long growthMb = (peakRssKb() - before) / 1024;
    if (whole) {
        std::printf("download_peak_memory_growth: %ld MB (target < 32 MB for a 1000 MB file)\n",
                    growthMb);
        std::printf("download_local_throughput: %.0f MB/s (target none; local server, "
                    "hashed on the way)\n",
                    static_cast<double>(big) / 1e6 / seconds);
    } else {
        std::fprintf(stderr, "download_bench: the 1 GB download failed\n");
        status = 1;
    }

    // 200 MB cut at 40 %, then continued by the next run.
    std::error_code ec;
    std::filesystem::remove(dest, ec);
    constexpr std::int64_t cut = 200000000;
    const vozmo::ModelSpec spec{
        "Whisper", base + "/once-cut/40/" + std::to_string(cut), dest, cut, servedSha(cut), cut};
    const std::int64_t sentBefore = bytesSent(bytesLog);
    const bool firstFailed = !download(spec, certificate);
    const bool resumed = download(spec, certificate);
    if (firstFailed && resumed && vozmo::fileSize(dest) == cut) {
        const std::int64_t extra = bytesSent(bytesLog) - sentBefore - cut;
        std::printf("download_resume_overhead: %.3f MB (target <= 1 MB; extra bytes fetched "
                    "after a cut at 40 %% of 200 MB)\n",
                    static_cast<double>(extra) / 1e6);
    } else {
        std::fprintf(stderr, "download_bench: the cut download was not continued\n");
        status = 1;
    }
    std::filesystem::remove_all(root, ec);
    return status;
}
