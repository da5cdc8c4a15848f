#include "downloader.h"

#include "model_files.h"
#include "model_server.h"
#include "temp_home.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

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

// The SHA-256 of the server's first `size` bytes, computed apart from the code under test.
std::string servedSha(std::int64_t size) {
    const std::string bytes = test::servedBytes(0, size);
    return QCryptographicHash::hash(
               QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

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

    // One speech model file of `size` bytes at `path`, described as the server sends it.
    std::vector<ModelSpec> verified(const std::string& path, std::int64_t size = kSize) {
        return {
            {"Whisper", server.url(path), config().whisperModelPath, size, servedSha(size), size}};
    }

    std::unique_ptr<Downloader> make(std::vector<ModelSpec> list) {
        auto downloader = std::make_unique<Downloader>(std::move(list));
        downloader->trustedCertificates = server.certificate();
        watch(*downloader);
        return downloader;
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

    // Partial bodies in the models folder, of this version or an older one.
    int partials() {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(config().modelsDir)) {
            const std::string name = entry.path().filename().string();
            count += name.find(".part-") != std::string::npos || name.ends_with(".parcial");
        }
        return count;
    }

    // What an earlier attempt left: the first `size` bytes of `content`, recorded for `url`.
    void leavePartial(const std::string& content, const std::string& url) {
        const fs::path partial = partialPath(config().whisperModelPath);
        test::writeFile(partial, content);
        recordModelSource(partial, url);
    }

    test::TempHome home;
    test::ModelServer server;
    Reports run;
};

TEST_F(DownloaderTest, NothingMissingFinishesAtOnceWithoutProgress) {
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    test::writeFile(config().llmModelPath, std::string(kSize + 1, 'l'));
    auto downloader = make(specs(server.url("/file/1"), server.url("/file/1")));
    downloader->start(); // answered before start() returns
    EXPECT_EQ(run.finishes, std::vector<bool>{true});
    test::pumpFor(100ms);
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(server.requests(), "");
}

TEST_F(DownloaderTest, FetchesOnlyTheMissingFileNumberedOneOfOne) {
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    auto downloader =
        make(specs(server.url("/file/3000000"), server.url("/file/" + std::to_string(kSize))));
    EXPECT_TRUE(finish(*downloader));
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
    auto downloader = make(specs(server.url("/file/3000000"), server.url("/file/3500000")));
    EXPECT_TRUE(finish(*downloader));
    EXPECT_EQ(server.requests(), "/file/3000000\n/file/3500000\n");
    EXPECT_EQ(run.progress.front().second, "Whisper (1/2)…");
    EXPECT_EQ(run.progress.back().second, "IA de pulido (2/2): 3 de 3 MB");
    EXPECT_EQ(fileSize(config().whisperModelPath), 3000000);
    EXPECT_EQ(fileSize(config().llmModelPath), 3500000);
}

TEST_F(DownloaderTest, NetworkErrorOnTheFirstStopsTheRun) {
    auto downloader = make(specs(test::refusedUrl(), server.url("/file/3000000")));
    EXPECT_FALSE(finish(*downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper falló: "), std::string::npos) << appLog();
    ASSERT_TRUE(run.lastError);
    EXPECT_EQ(run.lastError->kind, Error::Kind::downloadFailed);
    EXPECT_EQ(run.lastError->detail.rfind("Whisper: ", 0), 0u) << run.lastError->detail;
    EXPECT_EQ(server.requests(), ""); // the second file is not tried
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_FALSE(fs::exists(config().llmModelPath));
    EXPECT_EQ(partials(), 0); // nothing arrived, so nothing is kept
}

TEST_F(DownloaderTest, AnErrorPageIsNeverStored) {
    auto downloader = make(specs(server.url("/missing"), server.url("/file/3000000")));
    EXPECT_FALSE(finish(*downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper falló: "), std::string::npos) << appLog();
    EXPECT_NE(appLog().find("404"), std::string::npos) << appLog();
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(server.requests(), "/missing\n");
    EXPECT_EQ(partials(), 0);
}

TEST_F(DownloaderTest, BodyCutShortStaysBesideTheModelNeverUnderItsName) {
    auto downloader = make(specs(server.url("/cut/3000000"), server.url("/file/3000000")));
    EXPECT_FALSE(finish(*downloader));
    EXPECT_NE(appLog().find("Descarga de Whisper falló: "), std::string::npos) << appLog();
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(fileSize(partialPath(config().whisperModelPath)), 1500000);
    EXPECT_EQ(server.requests(), "/cut/3000000\n");
}

TEST_F(DownloaderTest, NoLengthMeansNoByteProgressButSuccess) {
    test::writeFile(config().llmModelPath, std::string(kSize, 'l'));
    auto downloader = make(specs(server.url("/nolength/3200000"), server.url("/file/1")));
    EXPECT_TRUE(finish(*downloader));
    EXPECT_EQ(fileSize(config().whisperModelPath), 3200000);
    ASSERT_FALSE(run.progress.empty());
    for (const auto& [fraction, text] : run.progress) {
        EXPECT_EQ(text, "Whisper (1/1)…");
        EXPECT_EQ(fraction, 0.0);
    }
}

TEST_F(DownloaderTest, RetryAfterAFailureInTheSecondFetchesOnlyIt) {
    auto downloader = make(specs(server.url("/file/3000000"), server.url("/once-404/3000000")));
    EXPECT_FALSE(finish(*downloader));
    EXPECT_EQ(fileSize(config().whisperModelPath), kSize); // kept from the failed run
    EXPECT_FALSE(fs::exists(config().llmModelPath));
    EXPECT_NE(appLog().find("Descarga de IA de pulido falló: "), std::string::npos);

    run.progress.clear();
    EXPECT_TRUE(finish(*downloader));
    EXPECT_EQ(server.requests(), "/file/3000000\n/once-404/3000000\n/once-404/3000000\n");
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front().second, "IA de pulido (1/1)…");
    EXPECT_EQ(run.progress.back().second, "IA de pulido (1/1): 3 de 3 MB");
    EXPECT_TRUE(modelsPresent(downloader->specs()));
}

TEST_F(DownloaderTest, ResumesAfterACutAtFortyPercent) {
    const auto list = verified("/once-cut/40/3000000");
    auto downloader = make(list);
    EXPECT_FALSE(finish(*downloader));
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(fileSize(partialPath(config().whisperModelPath)), 1200000);

    run.progress.clear();
    EXPECT_TRUE(finish(*downloader));
    // Only the missing 60 % came the second time.
    EXPECT_EQ(server.requests(), "/once-cut/40/3000000\n/once-cut/40/3000000 from=1200000\n");
    EXPECT_EQ(server.bytesSent(), kSize);
    EXPECT_EQ(test::readFile(config().whisperModelPath), test::servedBytes(0, kSize));
    EXPECT_EQ(modelSource(config().whisperModelPath), list[0].url);
    EXPECT_EQ(partials(), 0);
    EXPECT_FALSE(modelSource(partialPath(config().whisperModelPath)));
    // The bar goes on from where the file stood, never back to zero.
    for (const auto& [fraction, text] : run.progress) {
        if (text.ends_with(" MB")) {
            EXPECT_GE(fraction, 0.4) << text;
        }
    }
    EXPECT_EQ(run.progress.back(), std::make_pair(1.0, std::string("Whisper (1/1): 3 de 3 MB")));
}

TEST_F(DownloaderTest, ARestartMidDownloadContinuesWhereTheLastRunStopped) {
    // 64 KiB every 50 ms: long enough to be stopped in the middle.
    const auto list = verified("/slow/3000000");
    {
        Downloader first(list);
        first.trustedCertificates = server.certificate();
        int calls = 0;
        double reached = 0;
        first.onProgress = [&](double fraction, const std::string& text) {
            reached = text.ends_with(" MB") ? fraction : reached;
        };
        first.onFinish = [&](const Outcome&) { calls += 1000; };
        first.start();
        ASSERT_TRUE(test::waitUntil([&] { return reached > 0.2; }));
        calls = 0;
        // Vozmo closes: the destructor cancels, waits for the worker and calls nobody.
    }
    test::pumpFor(200ms);
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    const std::int64_t kept = fileSize(partialPath(config().whisperModelPath));
    ASSERT_GT(kept, 0);
    ASSERT_LT(kept, kSize);

    auto second = make(list);
    EXPECT_TRUE(finish(*second));
    EXPECT_EQ(
        test::lines(server.requests()),
        (std::vector<std::string>{"/slow/3000000", "/slow/3000000 from=" + std::to_string(kept)}));
    EXPECT_EQ(test::readFile(config().whisperModelPath), test::servedBytes(0, kSize));
    // What was on the wire when the first run stopped is all that came twice.
    EXPECT_LE(server.bytesSent() - kSize, 1000000);
    EXPECT_NE(appLog().find("Descarga de Whisper: se continúa desde "), std::string::npos);
}

TEST_F(DownloaderTest, AFileThatIsNotTheExpectedOneIsDeleted) {
    const std::string url = server.url("/file/3000000");
    std::string padded = test::servedBytes(0, 1000000) + std::string(500000, '\0');
    const struct {
        const char* what;
        std::string sha256;
        std::string leftBefore; // a partial file of an earlier attempt
        const char* request;
    } cases[] = {
        {"the server sends other bytes than the catalogue's", std::string(64, '0'), "",
         "/file/3000000"},
        {"a partial file damaged on disk (truncated, then padded)", servedSha(kSize), padded,
         "/file/3000000 from=1500000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempHome caseHome;
        const std::int64_t sentBefore = server.bytesSent();
        if (!c.leftBefore.empty()) {
            leavePartial(c.leftBefore, url);
        }
        auto downloader =
            make({{"Whisper", url, config().whisperModelPath, kSize, c.sha256, kSize}});
        const std::string requestsBefore = server.requests();
        EXPECT_FALSE(finish(*downloader));
        ASSERT_TRUE(run.lastError);
        EXPECT_EQ(run.lastError->detail, "Whisper: El archivo descargado no es el esperado");
        EXPECT_NE(
            appLog().find("Descarga de Whisper falló: El archivo descargado no es el esperado"),
            std::string::npos)
            << appLog();
        EXPECT_EQ(server.requests().substr(requestsBefore.size()), std::string(c.request) + "\n");
        EXPECT_GT(server.bytesSent(), sentBefore);
        EXPECT_FALSE(fs::exists(config().whisperModelPath));
        EXPECT_EQ(partials(), 0);
        EXPECT_FALSE(modelSource(partialPath(config().whisperModelPath)));
    }
}

TEST_F(DownloaderTest, ARedirectMustStayOnHttps) {
    auto refused = make(verified("/to-http/file/3000000"));
    EXPECT_FALSE(finish(*refused));
    ASSERT_TRUE(run.lastError);
    EXPECT_NE(run.lastError->detail.find("HTTPS"), std::string::npos) << run.lastError->detail;
    EXPECT_EQ(server.requests(), "/to-http/file/3000000\n");
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(partials(), 0);

    // A first address in the clear is refused the same way, before anything is sent.
    auto plain =
        make({{"Whisper", "http://127.0.0.1:" + std::to_string(server.port()) + "/file/3000000",
               config().whisperModelPath, kSize}});
    EXPECT_FALSE(finish(*plain));
    EXPECT_EQ(server.requests(), "/to-http/file/3000000\n");

    // Where the host sends its files from another HTTPS address, the file is fetched there.
    auto followed = make(verified("/redirect/file/3000000"));
    EXPECT_TRUE(finish(*followed));
    EXPECT_EQ(test::lines(server.requests()).back(), "/file/3000000");
    EXPECT_EQ(fileSize(config().whisperModelPath), kSize);
}

TEST_F(DownloaderTest, WhatAnEarlierAttemptLeftIsUsedOnlyWhenItFits) {
    const struct {
        const char* what;
        const char* path;
        std::string left;        // the partial file
        std::string recordedFor; // its recorded address, relative to the server
        std::vector<std::string> requests;
    } cases[] = {
        {"the beginning of this file",
         "/file/3000000",
         test::servedBytes(0, 1000000),
         "/file/3000000",
         {"/file/3000000 from=1000000"}},
        {"the whole file, stopped before it was moved",
         "/file/3000000",
         test::servedBytes(0, kSize),
         "/file/3000000",
         {}},
        {"the other version of the model",
         "/file/3000000",
         std::string(1000000, 'x'),
         "/file/2000000",
         {"/file/3000000"}},
        {"longer than the file",
         "/file/3000000",
         test::servedBytes(0, kSize + 10),
         "/file/3000000",
         {"/file/3000000"}},
        {"a server that cannot continue: the whole file again",
         "/norange/3000000",
         test::servedBytes(0, 1000000),
         "/norange/3000000",
         {"/norange/3000000 from=1000000", "/norange/3000000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempHome caseHome;
        leavePartial(c.left, server.url(c.recordedFor));
        const auto before = test::lines(server.requests()).size();
        auto downloader = make(verified(c.path));
        EXPECT_TRUE(finish(*downloader));
        const auto all = test::lines(server.requests());
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
                  c.requests);
        EXPECT_EQ(test::readFile(config().whisperModelPath), test::servedBytes(0, kSize));
        EXPECT_EQ(partials(), 0);
    }
}

TEST_F(DownloaderTest, AFileInPlaceIsReadOnceThenTakenOrFlagged) {
    const struct {
        const char* what;
        std::string content;
        bool recorded; // downloaded by an older version, which recorded no hash
        bool theCatalogues;
    } cases[] = {
        {"the catalogue's file, copied in by hand", test::servedBytes(0, kSize), false, true},
        {"another file of the same size, copied in by hand", std::string(kSize, 'x'), false, false},
        {"downloaded by an older version", test::servedBytes(0, kSize), true, true},
        {"downloaded by an older version, damaged since", std::string(kSize, 'x'), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempHome caseHome;
        const auto list = verified("/file/3000000");
        test::writeFile(config().whisperModelPath, c.content);
        if (c.recorded) {
            recordModelSource(config().whisperModelPath, list[0].url);
        }
        const std::string requestsBefore = server.requests();
        run.progress.clear();
        auto downloader = make(list);
        EXPECT_TRUE(finish(*downloader));
        EXPECT_EQ(server.requests(), requestsBefore); // read here, never fetched
        ASSERT_FALSE(run.progress.empty());
        EXPECT_EQ(run.progress.back(),
                  std::make_pair(1.0, std::string("Whisper: comprobando el archivo")));
        EXPECT_EQ(test::readFile(config().whisperModelPath), c.content); // kept either way
        EXPECT_TRUE(modelInstalled(list[0]));
        EXPECT_EQ(modelSource(config().whisperModelPath).has_value(),
                  c.recorded || c.theCatalogues);
        EXPECT_EQ(modelDiffersFromCatalogue(list[0]), !c.theCatalogues);

        // Read once: the next start has nothing to do.
        run.progress.clear();
        downloader->start();
        test::pumpFor(200ms);
        EXPECT_TRUE(run.progress.empty());
        EXPECT_EQ(run.finishes.back(), true);

        // Changed afterwards (another copy): read again.
        test::writeFile(config().whisperModelPath, std::string(kSize, 'y'));
        EXPECT_TRUE(modelNeedsHashing(list[0]));
    }
}

TEST_F(DownloaderTest, DestroyedMidTransferStopsWithoutCallbacksKeepingThePartialFile) {
    // A temporary file of an older version, left by a killed run, is cleared away.
    test::writeFile(config().modelsDir / ".whisper.bin.part-OLD123", "stale");
    int calls = 0;
    {
        // 64 KiB every 50 ms: this transfer would take minutes.
        Downloader downloader(specs(server.url("/slow/100000000"), server.url("/file/1")));
        downloader.trustedCertificates = server.certificate();
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
    EXPECT_FALSE(fs::exists(config().modelsDir / ".whisper.bin.part-OLD123"));
    EXPECT_GT(fileSize(partialPath(config().whisperModelPath)), 0); // for the next run
}

TEST_F(DownloaderTest, StartDuringARunIsAnsweredByThatRun) {
    auto downloader = make(specs(server.url("/file/3000000"), server.url("/file/3000000")));
    downloader->start();
    downloader->start();
    EXPECT_TRUE(downloader->running());
    ASSERT_TRUE(test::waitUntil([&] { return !run.finishes.empty(); }));
    test::pumpFor(200ms);
    EXPECT_EQ(run.finishes, std::vector<bool>{true});
    EXPECT_EQ(server.requests(), "/file/3000000\n/file/3000000\n");
}

} // namespace
} // namespace vozmo
