// The transcription and polish clients against real servers on loopback that misbehave: a byte
// per second, 100 MB, ill-formed UTF-8, a connection closed half-way. No crash, no hang beyond
// the time limit, bounded memory, a logged error, and the next request to a sound server works.
#include "config.h"
#include "polisher.h"
#include "standin.h"
#include "temp_home.h"
#include "transcribe.h"
#include "wav.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vozmo {
namespace {

using Clock = std::chrono::steady_clock;

std::string hex(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

// One hostile_server.py process on a free port, stopped by pid when the test ends.
class HostileServer {
public:
    HostileServer(const std::string& mode, const std::string& body)
        : port_(test::freePort()),
          process_({VOZMO_HOSTILE_SERVER, std::to_string(port_), mode, hex(body)}) {}

    bool ready() {
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < deadline && process_.running()) {
            if (test::portAnswers(port_)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    int port() const { return port_; }

private:
    int port_;
    test::ChildProcess process_;
};

std::string shortWav() {
    return *wavData(std::vector<float>(8000, 0.1f));
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A body both clients can read: a transcript and a chat answer in one object.
std::string answerWith(const std::string& text) {
    return R"({"text":")" + text +
           R"(","choices":[{"finish_reason":"stop","message":{"content":")" + text + R"("}}]})";
}

class HostileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureSupport();
        ASSERT_TRUE(whisper.waitUntilListening());
    }

    // After any fault, a dictation against a sound server still comes back.
    void expectNextTranscriptionWorks() {
        dir.configure(test::StandinKind::Whisper, {{"text", " Sigue funcionando.\n"}});
        EXPECT_EQ(transcribe(shortWav(), "es", "", whisper.port()), " Sigue funcionando.\n");
    }

    std::string appLog() const { return test::readFile(config().logsDir / "app.log"); }

    test::TempHome home;
    test::StandinDir dir;
    test::Standin whisper{test::StandinKind::Whisper, dir};
};

TEST_F(HostileServerTest, IllFormedUtf8KeepsTheTranscriptAndRefusesThePolish) {
    HostileServer server("bytes", answerWith("Hola \xff\xc3( mundo."));
    ASSERT_TRUE(server.ready());
    // The dictation survives with the stray bytes read as U+FFFD; the polish is not used, so
    // the caller keeps the dictated text.
    EXPECT_EQ(transcribe(shortWav(), "es", "", server.port()),
              "Hola \xEF\xBF\xBD\xEF\xBF\xBD( mundo.");
    EXPECT_EQ(Polisher::polish("hola mundo", {}, server.port()), std::nullopt);
    expectNextTranscriptionWorks();
}

TEST_F(HostileServerTest, ConnectionClosedHalfWayIsAFailedRequest) {
    HostileServer server("halfclose", answerWith("Esto no llega entero al cliente."));
    ASSERT_TRUE(server.ready());
    const auto started = Clock::now();
    EXPECT_EQ(transcribe(shortWav(), "es", "", server.port()), std::nullopt);
    EXPECT_EQ(Polisher::polish("esto no llega entero", {}, server.port()), std::nullopt);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    EXPECT_NE(appLog().find("Whisper no respondió: "), std::string::npos);
    expectNextTranscriptionWorks();
}

TEST_F(HostileServerTest, HundredMegabytesAreCutOffWithBoundedMemory) {
    HostileServer server("flood", "");
    ASSERT_TRUE(server.ready());
    const long before = peakRssKb();
    EXPECT_EQ(transcribe(shortWav(), "es", "", server.port()), std::nullopt);
    EXPECT_EQ(Polisher::polish("hola", {}, server.port()), std::nullopt);
    // Reading all of it would hold 100 MB at least once.
    EXPECT_LT(peakRssKb() - before, 60 * 1024);
    EXPECT_NE(appLog().find("Whisper no respondió: "), std::string::npos);
    expectNextTranscriptionWorks();
}

TEST_F(HostileServerTest, AByteASecondIsWaitedForOnlyWithinTheTimeLimit) {
    // 13 bytes take 13 s: within the transcription's limit, beyond the polish's 8 s.
    HostileServer server("trickle", R"({"text":"Ya"})");
    ASSERT_TRUE(server.ready());
    std::optional<std::string> transcript;
    std::thread slowTranscription(
        [&] { transcript = transcribe(shortWav(), "es", "", server.port()); });

    const auto started = Clock::now();
    EXPECT_EQ(Polisher::polish("ya", {}, server.port()), std::nullopt);
    const auto polishTook = Clock::now() - started;
    EXPECT_GE(polishTook, std::chrono::seconds(7));
    EXPECT_LT(polishTook, std::chrono::seconds(11));

    slowTranscription.join();
    EXPECT_EQ(transcript, "Ya");
    expectNextTranscriptionWorks();
}

} // namespace
} // namespace vozmo
