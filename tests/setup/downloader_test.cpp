#include "downloader.h"

#include "model_files.h"
#include "model_server.h"
#include "temp_home.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

namespace fs = std::filesystem;

// Three decimal megabytes: small enough to be quick, large enough for "x de 3 MB".
constexpr std::int64_t kSize = 3000000;

struct Reports {
    std::vector<std::pair<double, std::string>> progress;
    std::vector<bool> finishes;
    std::optional<Error> lastError;
};

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("no_proxy", "127.0.0.1", 1); // the local server, never through a proxy
        ASSERT_TRUE(server.running());
    }

    std::vector<ModelSpec> specs(const std::string& first, const std::string& second) {
        return {{"Whisper", first, config().whisperModelPath, kSize},
                {"IA de pulido", second, config().llmModelPath, kSize}};
    }

    void watch(Downloader& downloader) {
        downloader.onProgress = [this](double fraction, const std::string& text) {
            run.progress.emplace_back(fraction, text);
        };
        downloader.onFinish = [this](const Outcome& outcome) {
            run.finishes.push_back(outcome.ok());
            if (!outcome) {
                run.lastError = outcome.error();
            }
        };
    }

    bool finish(Downloader& downloader) {
        size_t before = run.finishes.size();
        downloader.start();
        EXPECT_TRUE(test::waitUntil([&] { return run.finishes.size() > before; }));
        test::pumpFor(100ms); // a second onFinish would show here
        EXPECT_EQ(run.finishes.size(), before + 1);
        return run.finishes.back();
    }

    std::string appLog() { return test::readFile(config().logsDir / "app.log"); }

    // Hidden partial bodies left in the models folder.
    int partials() {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(config().modelsDir)) {
            count += entry.path().filename().string().find(".part-") != std::string::npos;
        }
        return count;
    }

    test::TempHome home;
    test::ModelServer server;
    Reports run;
};

TEST_F(DownloaderTest, NothingMissingFinishesAtOnceWithoutProgress) {
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    test::writeFile(config().llmModelPath, std::string(kSize + 1, 'l'));
    Downloader downloader(specs(server.url("/file/1"), server.url("/file/1")));
    watch(downloader);
    downloader.start(); // answered before start() returns
    EXPECT_EQ(run.finishes, std::vector<bool>{true});
    test::pumpFor(100ms);
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(server.requests(), "");
}

TEST_F(DownloaderTest, FetchesOnlyTheMissingFileNumberedOneOfOne) {
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    Downloader downloader(
        specs(server.url("/file/3000000"), server.url("/file/" + std::to_string(kSize))));
    watch(downloader);
    EXPECT_TRUE(finish(downloader));
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front(), std::make_pair(0.0, std::string("IA de pulido (1/1)…")));
    for (const auto& [fraction, text] : run.progress) {
        EXPECT_EQ(text.rfind("IA de pulido (1/1)", 0), 0u) << text;
        EXPECT_GE(fraction, 0.0);
        EXPECT_LE(fraction, 1.0);
    }
    // The last report is the whole body, in truncated decimal megabytes.
    EXPECT_EQ(run.progress.back(),
              std::make_pair(1.0, std::string("IA de pulido (1/1): 3 de 3 MB")));
    EXPECT_EQ(fileSize(config().llmModelPath), kSize);
    EXPECT_EQ(server.requests(), "/file/3000000\n");
    EXPECT_EQ(partials(), 0);
}

TEST_F(DownloaderTest, BothFilesInOrderNumberedOfTwo) {
    Downloader downloader(specs(server.url("/file/3000000"), server.url("/file/3500000")));
    watch(downloader);
    EXPECT_TRUE(finish(downloader));
    EXPECT_EQ(server.requests(), "/file/3000000\n/file/3500000\n");
    EXPECT_EQ(run.progress.front().second, "Whisper (1/2)…");
    EXPECT_EQ(run.progress.back().second, "IA de pulido (2/2): 3 de 3 MB");
    EXPECT_EQ(fileSize(config().whisperModelPath), 3000000);
    EXPECT_EQ(fileSize(config().llmModelPath), 3500000);
}

TEST_F(DownloaderTest, NetworkErrorOnTheFirstStopsTheRun) {
    Downloader downloader(specs(test::refusedUrl(), server.url("/file/3000000")));
    watch(downloader);
    EXPECT_FALSE(finish(downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper falló: "), std::string::npos) << appLog();
    ASSERT_TRUE(run.lastError);
    EXPECT_EQ(run.lastError->kind, Error::Kind::downloadFailed);
    EXPECT_EQ(run.lastError->detail.rfind("Whisper: ", 0), 0u) << run.lastError->detail;
    EXPECT_EQ(server.requests(), ""); // the second file is not tried
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_FALSE(fs::exists(config().llmModelPath));
    EXPECT_EQ(partials(), 0);
}

TEST_F(DownloaderTest, ErrorPageIsStoredFoundTooSmallAndDeleted) {
    Downloader downloader(specs(server.url("/missing"), server.url("/file/3000000")));
    watch(downloader);
    EXPECT_FALSE(finish(downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper incompleta"), std::string::npos) << appLog();
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(server.requests(), "/missing\n");
    EXPECT_EQ(partials(), 0);
}

TEST_F(DownloaderTest, BodyCutShortLeavesNothingUnderTheModelsName) {
    Downloader downloader(specs(server.url("/cut/3000000"), server.url("/file/3000000")));
    watch(downloader);
    EXPECT_FALSE(finish(downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper falló: "), std::string::npos) << appLog();
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(partials(), 0);
    EXPECT_EQ(server.requests(), "/cut/3000000\n");
}

TEST_F(DownloaderTest, NoLengthMeansNoByteProgressButSuccess) {
    test::writeFile(config().llmModelPath, std::string(kSize, 'l'));
    Downloader downloader(specs(server.url("/nolength/3200000"), server.url("/file/1")));
    watch(downloader);
    EXPECT_TRUE(finish(downloader));
    EXPECT_EQ(fileSize(config().whisperModelPath), 3200000);
    ASSERT_FALSE(run.progress.empty());
    for (const auto& [fraction, text] : run.progress) {
        EXPECT_EQ(text, "Whisper (1/1)…");
        EXPECT_EQ(fraction, 0.0);
    }
}

TEST_F(DownloaderTest, RetryAfterAFailureInTheSecondFetchesOnlyIt) {
    Downloader downloader(specs(server.url("/file/3000000"), server.url("/once-404/3000000")));
    watch(downloader);
    EXPECT_FALSE(finish(downloader));
    EXPECT_EQ(fileSize(config().whisperModelPath), kSize); // kept from the failed run
    EXPECT_FALSE(fs::exists(config().llmModelPath));
    EXPECT_NE(appLog().find("Descarga de IA de pulido incompleta"), std::string::npos);

    run.progress.clear();
    EXPECT_TRUE(finish(downloader));
    EXPECT_EQ(server.requests(), "/file/3000000\n/once-404/3000000\n/once-404/3000000\n");
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front().second, "IA de pulido (1/1)…");
    EXPECT_EQ(run.progress.back().second, "IA de pulido (1/1): 3 de 3 MB");
    EXPECT_TRUE(modelsPresent(downloader.specs()));
}

TEST_F(DownloaderTest, DestroyedMidTransferStopsWithoutCallbacksOrLeftovers) {
    // A partial body of an earlier, killed run is cleared away too.
    test::writeFile(config().modelsDir / ".whisper.bin.part-OLD123", "stale");
    int calls = 0;
    {
        // 64 KiB every 50 ms: this transfer would take minutes.
        Downloader downloader(specs(server.url("/slow/100000000"), server.url("/file/1")));
        downloader.onProgress = [&](double, const std::string& text) {
            calls += text.find(" MB") != std::string::npos;
        };
        downloader.onFinish = [&](const Outcome&) { calls += 1000; };
        downloader.start();
        ASSERT_TRUE(test::waitUntil([&] { return calls > 0; }));
        calls = 0;
    } // the destructor cancels and waits for the worker
    test::pumpFor(300ms);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(partials(), 0);
}

TEST_F(DownloaderTest, StartDuringARunIsAnsweredByThatRun) {
    Downloader downloader(specs(server.url("/file/3000000"), server.url("/file/3000000")));
    watch(downloader);
    downloader.start();
    downloader.start();
    EXPECT_TRUE(downloader.running());
    ASSERT_TRUE(test::waitUntil([&] { return !run.finishes.empty(); }));
    test::pumpFor(200ms);
    EXPECT_EQ(run.finishes, std::vector<bool>{true});
    EXPECT_EQ(server.requests(), "/file/3000000\n/file/3000000\n");
}

} // namespace
} // namespace vozmo
