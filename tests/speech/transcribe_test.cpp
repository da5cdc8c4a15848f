#include "transcribe.h"

#include "config.h"
#include "http.h"
#include "speech_window.h"
#include "standin.h"
#include "temp_home.h"
#include "wait.h"
#include "wav.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace vozmo {
namespace {

using test::StandinKind;

std::string speechWav(std::size_t samples = 16000) {
    std::vector<float> audio(samples);
    for (std::size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<float>(i % 200) / 200.0f - 0.5f;
    }
    return *wavData(audio);
}

std::string appLog() {
    return test::readFile(config().logsDir / "app.log");
}

TEST(MultipartBody, LayoutWithoutPrompt) {
    const std::string wav("RIFF\0\r\n--x", 10);
    const std::string expected = "--B\r\nContent-Disposition: form-data; name=\"response_format\""
                                 "\r\n\r\njson\r\n"
                                 "--B\r\nContent-Disposition: form-data; name=\"temperature\""
                                 "\r\n\r\n0.0\r\n"
                                 "--B\r\nContent-Disposition: form-data; name=\"language\""
                                 "\r\n\r\n\r\n"
                                 "--B\r\nContent-Disposition: form-data; name=\"audio_ctx\""
                                 "\r\n\r\n1500\r\n"
                                 "--B\r\nContent-Disposition: form-data; name=\"file\"; "
                                 "filename=\"audio.wav\"\r\nContent-Type: audio/wav\r\n\r\n" +
                                 wav + "\r\n--B--\r\n";
    EXPECT_EQ(multipartBody("B", wav, "", ""), expected);
}

TEST(MultipartBody, LayoutWithPromptLast) {
    const std::string expected = "--Vozmo1\r\nContent-Disposition: form-data; "
                                 "name=\"response_format\"\r\n\r\njson\r\n"
                                 "--Vozmo1\r\nContent-Disposition: form-data; "
                                 "name=\"temperature\"\r\n\r\n0.0\r\n"
                                 "--Vozmo1\r\nContent-Disposition: form-data; "
                                 "name=\"language\"\r\n\r\nes\r\n"
                                 "--Vozmo1\r\nContent-Disposition: form-data; "
                                 "name=\"audio_ctx\"\r\n\r\n448\r\n"
                                 "--Vozmo1\r\nContent-Disposition: form-data; "
                                 "name=\"prompt\"\r\n\r\nJira, Núñez\r\n"
                                 "--Vozmo1\r\nContent-Disposition: form-data; name=\"file\"; "
                                 "filename=\"audio.wav\"\r\nContent-Type: audio/wav\r\n\r\n"
                                 "WAVBYTES\r\n--Vozmo1--\r\n";
    EXPECT_EQ(multipartBody("Vozmo1", "WAVBYTES", "es", "Jira, Núñez", 448), expected);
}

TEST(SpeechWindow, FollowsTheAudioWithinTheEncodersLimits) {
    const struct {
        double seconds;
        int frames;
    } cases[] = {
        {0.0, 384},    {0.4, 384},   {5.3, 384}, // the floor
        {6.4, 384},    {6.42, 448},              // 321 frames + 64 of margin: next multiple of 64
        {10.3, 640},   {20.3, 1088},             // 515 + 64 → 640; 1015 + 64 → 1088
        {28.0, 1472},  {28.8, 1500}, {29.99, 1500}, // 1504 would pass the full window
        {300.3, 1500},                              // the longest recording
    };
    for (const auto& c : cases) {
        const auto samples = static_cast<std::size_t>(c.seconds * 16000.0);
        EXPECT_EQ(speechWindowFrames(samples), c.frames) << c.seconds << " s";
    }
    EXPECT_EQ(speechWindowFrames(static_cast<std::size_t>(-1)), 1500);
}

// The body written around the samples in one buffer is byte for byte the one around their WAV.
TEST(MultipartBody, WrittenAroundTheSamplesInPlace) {
    for (const std::size_t samples : {std::size_t{0}, std::size_t{1}, std::size_t{16000 * 3 + 7}}) {
        std::vector<float> audio(samples);
        for (std::size_t i = 0; i < samples; ++i) {
            audio[i] = static_cast<float>(i % 97) / 48.0f - 1.0f;
        }
        const auto body = multipartBody("Vozmo1", audio, "es", "Jira", 448);
        ASSERT_TRUE(body) << samples;
        EXPECT_EQ(*body, multipartBody("Vozmo1", *wavData(audio), "es", "Jira", 448)) << samples;
    }
}

// The encoder's work and the time a request may take: the window once per 30 s of audio, and a
// limit three times the measured pace (with a minute at least).
TEST(SpeechPace, TheLimitFollowsTheAudioAndTheMeasuredSpeed) {
    const struct {
        double seconds;
        int window;
        double work; // seconds of window encoded
    } work[] = {
        {5.3, 384, 7.68},   {5.3, 0, 30.0},      {29.9, 1500, 30.0},
        {30.1, 1500, 60.0}, {93.3, 1500, 120.0}, {100.3, 0, 120.0},
    };
    for (const auto& c : work) {
        EXPECT_DOUBLE_EQ(
            encoderWindowSeconds(static_cast<std::size_t>(c.seconds * 16000), c.window), c.work)
            << c.seconds << " s";
    }

    SpeechPace pace;
    EXPECT_DOUBLE_EQ(pace.limitSeconds(7.68), 60.0);
    EXPECT_DOUBLE_EQ(pace.limitSeconds(120.0), 3 * 120.0 + 15);
    // The accurate model on 2 cores: 6.7 s for a 5 s dictation. A 93 s one then takes about
    // 105 s, past the old fixed 90 s, and gets room for it.
    pace.answered(7.68, 6.7);
    EXPECT_NEAR(pace.secondsPerWindowSecond(), 0.87, 0.01);
    EXPECT_GT(pace.limitSeconds(120.0), 2.5 * 105);
    // The fast model: short dictations keep the one-minute floor.
    pace.answered(7.68, 0.9);
    EXPECT_DOUBLE_EQ(pace.limitSeconds(7.68), 60.0);
    // A request given up teaches that the server is at least that slow.
    pace.timedOut(120.0, 60.0);
    EXPECT_DOUBLE_EQ(pace.secondsPerWindowSecond(), 0.5);
    EXPECT_DOUBLE_EQ(pace.limitSeconds(120.0), 3 * 60.0 + 15);
    pace.answered(0, 5); // nothing to learn from
    pace.timedOut(0, 5);
    EXPECT_DOUBLE_EQ(pace.secondsPerWindowSecond(), 0.5);
}

// "Vozmo" + 8-4-4-4-12 upper-case hexadecimal digits, version 4 and the RFC 4122 variant.
bool isBoundary(const std::string& b) {
    if (b.size() != 41 || b.rfind("Vozmo", 0) != 0 || b[5 + 14] != '4' ||
        std::string("89AB").find(b[5 + 19]) == std::string::npos) {
        return false;
    }
    for (std::size_t i = 5; i < b.size(); ++i) {
        const bool dash = i - 5 == 8 || i - 5 == 13 || i - 5 == 18 || i - 5 == 23;
        const bool hex = (b[i] >= '0' && b[i] <= '9') || (b[i] >= 'A' && b[i] <= 'F');
        if (dash ? b[i] != '-' : !hex) {
            return false;
        }
    }
    return true;
}

TEST(Boundary, FreshUpperCaseUuidEachTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const auto boundary = newBoundary();
        EXPECT_TRUE(isBoundary(boundary)) << boundary;
        seen.insert(boundary);
    }
    EXPECT_EQ(seen.size(), 100u);
}

class TranscribeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureSupport();
        ASSERT_TRUE(whisper.waitUntilListening());
    }

    void answerWith(const nlohmann::json& behaviour) {
        dir.configure(StandinKind::Whisper, behaviour);
    }

    std::vector<nlohmann::json> inferences() const {
        return dir.requests(StandinKind::Whisper, "/inference");
    }

    test::TempHome home;
    test::StandinDir dir;
    test::Standin whisper{StandinKind::Whisper, dir};
};

TEST_F(TranscribeTest, SendsTheExactBodyWithAFreshBoundary) {
    answerWith({{"texts", {" Hola.\n", " Adiós.\n"}}});
    const std::string wav = speechWav();
    EXPECT_EQ(transcribe(wav, "es", "", whisper.port()), " Hola.\n");
    EXPECT_EQ(transcribe(wav, "auto", "WhatsApp, Jira", whisper.port(), 384), " Adiós.\n");

    const auto sent = inferences();
    ASSERT_EQ(sent.size(), 2u);
    std::vector<std::string> boundaries;
    const std::string prefix = "multipart/form-data; boundary=";
    for (const auto& request : sent) {
        EXPECT_EQ(request["method"], "POST");
        const auto type = test::recordedHeader(request, "Content-Type");
        ASSERT_TRUE(type);
        ASSERT_EQ(type->rfind(prefix, 0), 0u) << *type;
        boundaries.push_back(type->substr(prefix.size()));
        EXPECT_TRUE(isBoundary(boundaries.back())) << boundaries.back();
        // What the server parsed: the file part and a valid 16 kHz mono 16-bit WAV.
        EXPECT_EQ(request["file"]["filename"], "audio.wav");
        EXPECT_EQ(request["file"]["content_type"], "audio/wav");
        EXPECT_EQ(request["wav"]["data_size"], 32000);
    }
    EXPECT_NE(boundaries[0], boundaries[1]);
    EXPECT_EQ(test::recordedBody(sent[0]), multipartBody(boundaries[0], wav, "es", ""));
    EXPECT_EQ(test::recordedBody(sent[1]),
              multipartBody(boundaries[1], wav, "auto", "WhatsApp, Jira", 384));
    EXPECT_EQ(sent[0]["parts"],
              nlohmann::json({"response_format", "temperature", "language", "audio_ctx", "file"}));
    // The server keeps a window for later requests: without one the full window goes out.
    EXPECT_EQ(sent[0]["fields"]["audio_ctx"], "1500");
    EXPECT_EQ(sent[1]["fields"], nlohmann::json({{"response_format", "json"},
                                                 {"temperature", "0.0"},
                                                 {"language", "auto"},
                                                 {"audio_ctx", "384"},
                                                 {"prompt", "WhatsApp, Jira"}}));
    EXPECT_EQ(appLog().find("Whisper respondió"), std::string::npos);
}

// whisper-server's time grows with the window, and a window it was sent stays in force for
// requests that send none: the stand-in behaves alike, and the client always sends one.
TEST_F(TranscribeTest, TheServersTimeFollowsTheWindowInForce) {
    answerWith({{"window_seconds", 3.0}});
    const std::string wav = speechWav();
    auto post = [&](std::optional<int> window) {
        const std::string boundary = newBoundary();
        HttpRequest request;
        request.method = "POST";
        request.url = whisper.url("/inference");
        request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
        request.body = multipartBody(boundary, wav, "es", "");
        if (!window) {
            // A client that sends no window at all.
            const std::string field = "name=\"audio_ctx\"\r\n\r\n1500\r\n";
            const auto at = request.body.find(field);
            const auto start = request.body.rfind("--" + boundary, at);
            request.body.erase(start, at + field.size() - start);
        } else {
            request.body = multipartBody(boundary, wav, "es", "", *window);
        }
        EXPECT_EQ(http(request).status, 200);
    };
    post(384);
    post(std::nullopt);
    post(1500);
    // The stand-in notes its time just after its answer has gone out.
    std::vector<double> seconds;
    test::waitUntil(
        [&] {
            seconds.clear();
            for (const auto& entry : dir.records(StandinKind::Whisper)) {
                if (entry.value("event", "") == "answered") {
                    seconds.push_back(entry.value("seconds", 0.0));
                }
            }
            return seconds.size() >= 3;
        },
        std::chrono::seconds(10));
    ASSERT_EQ(seconds.size(), 3u);
    EXPECT_GE(seconds[0], 3.0 * 384 / 1500);
    EXPECT_LT(seconds[0], 1.5);
    EXPECT_GE(seconds[1], 3.0 * 384 / 1500); // still 384
    EXPECT_LT(seconds[1], 1.5);
    EXPECT_GE(seconds[2], 3.0);
    EXPECT_FALSE(inferences()[1]["fields"].contains("audio_ctx"));
}

TEST_F(TranscribeTest, TranscriptIsReturnedUntouched) {
    const std::string texts[] = {" Hola Bruno, mañana tenemos reunión.\n No, perdón, a las doce.\n",
                                 "", "  ¿Qué tal?  "};
    for (const auto& text : texts) {
        answerWith({{"text", text}});
        EXPECT_EQ(transcribe(speechWav(), "es", "", whisper.port()), text);
    }
}

TEST_F(TranscribeTest, MalformedAnswersAreRefusedAndLogged) {
    const struct {
        nlohmann::json behaviour;
        int status;
    } cases[] = {
        {{{"status", 500}}, 500},
        {{{"status", 404}}, 404},
        {{{"status", 503}, {"body", R"({"text":"hola"})"}}, 503},
        {{{"body", "Hola, no soy JSON"}, {"content_type", "text/plain"}}, 200},
        {{{"body", R"(["text", "hola"])"}}, 200},
        {{{"body", R"("hola")"}}, 200},
        {{{"body", R"({"texto":"hola"})"}}, 200},
        {{{"body", R"({"text":null})"}}, 200},
        {{{"text", 42}}, 200},
        {{{"body", ""}}, 200},
        {{{"body", R"({"text":"hola")"}}, 200},
    };
    for (const auto& c : cases) {
        answerWith(c.behaviour);
        const auto before = appLog().size();
        EXPECT_FALSE(transcribe(speechWav(), "es", "", whisper.port())) << c.behaviour;
        const auto added = appLog().substr(before);
        EXPECT_NE(added.find("] Whisper respondió " + std::to_string(c.status) + "\n"),
                  std::string::npos)
            << c.behaviour << " logged: " << added;
    }
}

TEST_F(TranscribeTest, AudioTheServerCannotReadIsRefused) {
    std::string wav = speechWav();
    wav[24] = '\x44'; // 44100 Hz declared: not what the server takes
    wav[25] = '\xAC';
    EXPECT_FALSE(transcribe(wav, "es", "", whisper.port()));
    EXPECT_NE(appLog().find("Whisper respondió 400\n"), std::string::npos);
    EXPECT_FALSE(transcribe("not a wav file", "es", "", whisper.port()));
}

TEST_F(TranscribeTest, ConcurrentRequestsEachGetTheirAnswer) {
    answerWith({{"rules",
                 {{{"match", "uno"}, {"text", " Uno."}},
                  {{"match", "dos"}, {"text", " Dos."}},
                  {{"match", "tres"}, {"text", " Tres."}},
                  {{"match", "cuatro"}, {"text", " Cuatro."}}}}});
    const std::vector<std::string> words = {"uno", "dos", "tres", "cuatro"};
    std::vector<std::optional<std::string>> results(words.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < words.size(); ++i) {
        threads.emplace_back(
            [&, i] { results[i] = transcribe(speechWav(8000), "es", words[i], whisper.port()); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(results[0], " Uno.");
    EXPECT_EQ(results[1], " Dos.");
    EXPECT_EQ(results[2], " Tres.");
    EXPECT_EQ(results[3], " Cuatro.");
    std::set<std::string> boundaries;
    for (const auto& request : inferences()) {
        boundaries.insert(test::recordedHeader(request, "Content-Type").value_or(""));
    }
    EXPECT_EQ(boundaries.size(), words.size());
}

TEST(TranscribeUnreachable, NoServerGivesAbsentAndSaysWhy) {
    test::TempHome home;
    ensureSupport();
    const int port = test::freePort(); // nothing listens there
    EXPECT_FALSE(transcribe(speechWav(), "es", "", port));
    EXPECT_NE(appLog().find("] Whisper no respondió: "), std::string::npos);
}

// The samples' own request: its time limit, and a failure that says what happened.
TEST_F(TranscribeTest, SamplesRequestsSayWhyTheyFailed) {
    const std::vector<float> audio(16000, 0.25f);
    answerWith({{"text", " Hola.\n"}, {"delay", 2.5}});
    const auto late = transcribeSamples(audio, "es", "", whisper.port(), 384, 1.0, {});
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error(), (Error{Error::Kind::transcriptionTimedOut, "1 s"}));
    EXPECT_NE(appLog().find("] Whisper no respondió en el límite de 1 s\n"), std::string::npos);
    EXPECT_EQ(transcribeSamples(audio, "es", "", whisper.port(), 384, 20.0, {}).value(), " Hola.\n");
    ASSERT_EQ(inferences().size(), 2u);
    EXPECT_EQ(inferences()[1]["wav"]["data_size"], 32000);

    answerWith({{"status", 500}});
    const auto refused = transcribeSamples(audio, "es", "", whisper.port(), 384, 5.0, {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), (Error{Error::Kind::transcriptionFailed, "estado 500"}));

    std::stop_source stop;
    stop.request_stop();
    const auto cancelled =
        transcribeSamples(audio, "es", "", whisper.port(), 384, 5.0, stop.get_token());
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().kind, Error::Kind::cancelled);

    answerWith({{"exit_during_request", 1}});
    const auto gone = transcribeSamples(audio, "es", "", whisper.port(), 384, 5.0, {});
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().kind, Error::Kind::transcriptionFailed);
    EXPECT_EQ(gone.error().detail.rfind("sin respuesta: ", 0), 0u) << gone.error().detail;
}

TEST_F(TranscribeTest, ServerDyingMidRequestGivesAbsentAndSaysWhy) {
    answerWith({{"exit_during_request", 1}});
    EXPECT_FALSE(transcribe(speechWav(), "es", "", whisper.port()));
    EXPECT_NE(appLog().find("] Whisper no respondió: "), std::string::npos);
}

} // namespace
} // namespace vozmo
