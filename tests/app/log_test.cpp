#include "config.h"
#include "log.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

namespace vozmo {
namespace {

const std::regex kEntry(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] (.*))");

TEST(Log, CreatesAppendsAndRecreates) {
    test::TempHome home;
    ensureSupport();
    const auto file = config().logsDir / "app.log";
    log("uno");
    auto content = test::readFile(file);
    const auto first = test::lines(content);
    ASSERT_EQ(first.size(), 1u);
    std::smatch m; // refers into first, which must outlive it
    ASSERT_TRUE(std::regex_match(first[0], m, kEntry)) << content;
    EXPECT_EQ(m[1], "uno");
    EXPECT_EQ(content.back(), '\n');

    log("dos");
    EXPECT_EQ(test::lines(test::readFile(file)).size(), 2u);

    std::filesystem::remove(file);
    log("tres");
    auto again = test::lines(test::readFile(file));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(std::regex_match(again[0], m, kEntry));
    EXPECT_EQ(m[1], "tres");
}

TEST(Log, MessagesAreWrittenVerbatim) {
    test::TempHome home;
    ensureSupport();
    log("");
    log("primera\nsegunda");
    auto got = test::lines(test::readFile(config().logsDir / "app.log"));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(\[[^\]]+Z\] )")));
    EXPECT_TRUE(std::regex_match(got[1], kEntry));
    EXPECT_EQ(got[2], "segunda");
}

TEST(Log, WithoutTheLogsFolderNothingFails) {
    test::TempHome home; // ensureSupport not called: logs/ is missing
    log("perdida");
    EXPECT_FALSE(std::filesystem::exists(config().logsDir / "app.log"));
}

// A process that never set its paths up (a tool, a test) logs to standard error, never into
// the folder it happens to run in.
TEST(LogDeathTest, BeforeThePathsAreKnownNothingLandsInTheWorkingFolder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // In a new process, where nothing has set the paths up.
            char folder[] = "/tmp/vozmo-log-XXXXXX";
            if (::mkdtemp(folder) == nullptr) {
                std::exit(2);
            }
            std::filesystem::current_path(folder);
            log("sin rutas");
            const bool strayFile = std::filesystem::exists("app.log");
            std::filesystem::remove_all(folder);
            std::exit(strayFile ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "sin rutas");
}

TEST(Log, SelfTestModeEchoesTheBareMessage) {
    test::TempHome home({"vozmo", "--selftest"});
    ensureSupport();
    ::testing::internal::CaptureStdout();
    log("Whisper no disponible: falta whisper-server o el modelo");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Whisper no disponible: falta whisper-server o el modelo\n");
    std::smatch m;
    auto got = test::lines(test::readFile(config().logsDir / "app.log"));
    ASSERT_EQ(got.size(), 1u);
    ASSERT_TRUE(std::regex_match(got[0], m, kEntry));
    EXPECT_EQ(m[1], "Whisper no disponible: falta whisper-server o el modelo");
}

TEST(Log, ConcurrentEntriesLandWholeAndNoneIsLost) {
    test::TempHome home;
    ensureSupport();
    constexpr int kThreads = 8;
    constexpr int kEach = 250;
    // Long messages make torn writes visible if appends were not atomic.
    const std::string filler(300, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &filler] {
            for (int i = 0; i < kEach; ++i) {
                log("hilo " + std::to_string(t) + " entrada " + std::to_string(i) + " " + filler);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    auto got = test::lines(test::readFile(config().logsDir / "app.log"));
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kEach));
    std::set<std::string> seen;
    const std::regex shape(R"(\[[^\]]+Z\] (hilo \d+ entrada \d+) x{300})");
    for (const auto& line : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 80);
        seen.insert(m[1]);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
}

} // namespace
} // namespace vozmo
