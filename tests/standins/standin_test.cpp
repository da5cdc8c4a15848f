// The stand-in servers are the ground every server-facing test stands on: these check that they
// behave like the real ones where the application relies on it, and that each steering key works.
#include "standin.h"

#include "http.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>

namespace vozmo::test {
namespace {

using namespace std::chrono_literals;

HttpResponse get(const Standin& server, const std::string& path) {
    HttpRequest request;
    request.url = server.url(path);
    request.timeoutSeconds = 10;
    return http(request);
}

HttpResponse chat(const Standin& server, const nlohmann::json& body) {
    HttpRequest request;
    request.method = "POST";
    request.url = server.url("/v1/chat/completions");
    request.headers = {{"Content-Type", "application/json"}};
    request.body = body.is_string() ? body.get<std::string>() : body.dump();
    request.timeoutSeconds = 10;
    return http(request);
}

nlohmann::json messages(const std::string& lastUser) {
    return {{"messages",
             {{{"role", "system"}, {"content", "reglas"}},
              {{"role", "user"}, {"content", "<dictado>ejemplo</dictado>"}},
              {{"role", "assistant"}, {"content", "Ejemplo."}},
              {{"role", "user"}, {"content", lastUser}}}}};
}

int exitCode(const std::optional<int>& status) {
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

TEST(Standin, AcceptsOnlyTheApplicationsCommandLine) {
    StandinDir dir;
    const auto model = dir.model().string();
    const struct {
        StandinKind kind;
        std::vector<std::string> args;
        int exit; // whisper-server exits 0 after its usage, llama-server 1
    } cases[] = {
        {StandinKind::Whisper, {"--help"}, 0},
        {StandinKind::Whisper,
         {"-m", model, "--host", "127.0.0.1", "--port", "8178", "-t", "0", "-l", "es"},
         0},
        {StandinKind::Whisper,
         {"-m", model, "--host", "127.0.0.1", "--port", "8178", "-t", "two", "-l", "es"},
         0},
        {StandinKind::Whisper,
         {"-m", model, "--host", "127.0.0.1", "--port", "8178", "-t", "4", "-l", "es", "-x"},
         0},
        {StandinKind::Whisper,
         {"-m", model, "--host", "0.0.0.0", "--port", "8178", "-t", "4", "-l", "es"},
         0},
        {StandinKind::Llama,
         {"-m", model, "--host", "127.0.0.1", "--port", "8179", "-t", "2", "-ngl", "99", "-c",
          "4096", "-np", "1"},
         1},
        {StandinKind::Llama,
         {"-m", model, "--port", "8179", "--host", "127.0.0.1", "-t", "2", "-ngl", "99", "-c",
          "4096", "-np", "1", "--jinja"},
         1},
        {StandinKind::Llama,
         {"-m", model, "--host", "127.0.0.1", "--port", "x", "-t", "2", "-ngl", "99", "-c", "4096",
          "-np", "1", "--jinja"},
         1},
        {StandinKind::Llama,
         {"-m", model, "--host", "127.0.0.1", "--port", "8179", "-ngl", "99", "-c", "4096", "-np",
          "1", "--jinja"},
         1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{standinExecutable(c.kind).string()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess process(argv, dir.environment(), dir.path() / "out.log");
        EXPECT_EQ(exitCode(process.wait(30s)), c.exit) << c.args.back();
    }
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        for (const auto& entry : dir.records(kind)) {
            EXPECT_NE(entry["event"], "listening") << entry;
        }
    }
}

TEST(Standin, RecordsPidAndArgumentsAndStopsCleanlyOnSigterm) {
    StandinDir dir;
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        Standin server(kind, dir);
        ASSERT_TRUE(server.waitUntilListening());
        const auto records = dir.records(kind);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0]["event"], "start");
        EXPECT_EQ(records[0]["pid"], server.process().pid());
        std::vector<std::string> argv{standinName(kind) == "whisper" ? "whisper-server"
                                                                     : "llama-server"};
        for (const auto& arg : standinArguments(kind, dir.model(), server.port())) {
            argv.push_back(arg);
        }
        EXPECT_EQ(records[0]["argv"], argv);
        EXPECT_EQ(exitCode(server.process().stop()), 0);
    }
}

TEST(Standin, MissingModelEndsTheProcessWithAnError) {
    StandinDir dir;
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        std::vector<std::string> argv{standinExecutable(kind).string()};
        for (const auto& arg : standinArguments(kind, dir.path() / "absent.bin", freePort())) {
            argv.push_back(arg);
        }
        ChildProcess process(argv, dir.environment(), dir.path() / "out.log");
        EXPECT_EQ(exitCode(process.wait(30s)), 1);
        EXPECT_EQ(dir.records(kind).back()["event"], "model_missing");
    }
}

TEST(Standin, StartUpFailuresOnRequest) {
    StandinDir dir;
    dir.configure(StandinKind::Whisper, {{"exit_at_start", 3}});
    dir.configure(StandinKind::Llama, {{"crash_at_start", "SEGV"}});
    Standin whisper(StandinKind::Whisper, dir);
    Standin llama(StandinKind::Llama, dir);
    EXPECT_FALSE(whisper.waitUntilListening());
    EXPECT_FALSE(llama.waitUntilListening());
    EXPECT_EQ(exitCode(whisper.process().wait(30s)), 3);
    const auto status = llama.process().wait(30s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV);
}

TEST(Standin, StartUpFailureCanBeLimitedToTheFirstLaunches) {
    StandinDir dir;
    dir.configure(StandinKind::Whisper, {{"exit_at_start", 3}, {"at_start_launches", 2}});
    for (int launch = 1; launch <= 2; ++launch) {
        Standin whisper(StandinKind::Whisper, dir);
        EXPECT_EQ(exitCode(whisper.process().wait(30s)), 3);
    }
    Standin whisper(StandinKind::Whisper, dir);
    EXPECT_TRUE(whisper.waitUntilListening());
    EXPECT_EQ(dir.records(StandinKind::Whisper).front()["launch"], 1);
}

TEST(Standin, SlowProbeRunsIntoTheProbesTimeLimit) {
    StandinDir dir;
    dir.configure(StandinKind::Whisper, {{"probe_delay", 5}});
    Standin whisper(StandinKind::Whisper, dir);
    ASSERT_TRUE(whisper.waitUntilListening());
    HttpRequest probe;
    probe.url = whisper.url("/");
    probe.timeoutSeconds = 0.3;
    EXPECT_EQ(http(probe).status, 0);
}

TEST(Standin, BindDelayKeepsThePortClosedLikeModelLoading) {
    StandinDir dir;
    dir.configure(StandinKind::Whisper, {{"bind_delay", 0.5}});
    Standin whisper(StandinKind::Whisper, dir);
    ASSERT_TRUE(whisper.waitUntilListening());
    const auto records = dir.records(StandinKind::Whisper);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["event"], "listening");
    EXPECT_GE(records[1]["time"].get<double>() - records[0]["time"].get<double>(), 0.5);
}

TEST(Standin, ReadinessProbesFailForAChosenNumberOfProbes) {
    StandinDir dir;
    dir.configure(StandinKind::Whisper, {{"probe_status", 404}, {"probe_status_count", 2}});
    dir.configure(StandinKind::Llama, {{"probe_status", 503}, {"probe_status_count", 2}});
    Standin whisper(StandinKind::Whisper, dir);
    Standin llama(StandinKind::Llama, dir);
    ASSERT_TRUE(whisper.waitUntilListening());
    ASSERT_TRUE(llama.waitUntilListening());
    for (int probe = 1; probe <= 3; ++probe) {
        const auto w = get(whisper, "/");
        const auto l = get(llama, "/health");
        EXPECT_EQ(w.status, probe <= 2 ? 404 : 200);
        EXPECT_EQ(l.status, probe <= 2 ? 503 : 200);
        if (probe <= 2) {
            EXPECT_EQ(l.body, R"({"error": {"message": "Loading model", "type": )"
                              R"("unavailable_error", "code": 503}})");
        } else {
            EXPECT_EQ(l.body, R"({"status": "ok"})");
        }
    }
}

TEST(Standin, LanguageModelAnswersLoadingUntilItsModelIsLoaded) {
    StandinDir dir;
    dir.configure(StandinKind::Llama, {{"loading_seconds", 1.0}});
    Standin llama(StandinKind::Llama, dir);
    ASSERT_TRUE(llama.waitUntilPortOpen());
    EXPECT_EQ(get(llama, "/health").status, 503);
    EXPECT_EQ(chat(llama, messages("hola")).status, 503);
    for (int i = 0; i < 500 && get(llama, "/health").status != 200; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(get(llama, "/health").status, 200);
    EXPECT_EQ(chat(llama, messages("hola")).status, 200);
}

// With LLAMA_API_KEY in its environment llama-server serves only requests with that key, but
// for its public endpoints.
TEST(Standin, LanguageModelWithAKeyRefusesRequestsWithoutIt) {
    StandinDir dir;
    ::setenv("LLAMA_API_KEY", "clave-de-prueba", 1);
    Standin llama(StandinKind::Llama, dir);
    ::unsetenv("LLAMA_API_KEY");
    ASSERT_TRUE(llama.waitUntilListening());
    EXPECT_EQ(get(llama, "/health").status, 200);
    for (const char* authorization : {"", "Bearer otra", "clave-de-prueba"}) {
        SCOPED_TRACE(authorization);
        HttpRequest request;
        request.method = "POST";
        request.url = llama.url("/v1/chat/completions");
        request.headers = {{"Content-Type", "application/json"}};
        if (authorization[0] != '\0') {
            request.headers.emplace_back("Authorization", authorization);
        }
        request.body = messages("hola").dump();
        const HttpResponse refused = http(request);
        EXPECT_EQ(refused.status, 401);
        ASSERT_TRUE(refused.body);
        EXPECT_EQ(nlohmann::json::parse(*refused.body),
                  (nlohmann::json{{"error",
                                   {{"code", 401},
                                    {"message", "Invalid API Key"},
                                    {"type", "authentication_error"}}}}));
    }
    HttpRequest request;
    request.method = "POST";
    request.url = llama.url("/v1/chat/completions");
    request.headers = {{"Content-Type", "application/json"},
                       {"Authorization", "Bearer clave-de-prueba"}};
    request.body = messages("hola").dump();
    EXPECT_EQ(http(request).status, 200);
}

TEST(Standin, ChatAnswersInTheServersShape) {
    StandinDir dir;
    Standin llama(StandinKind::Llama, dir);
    ASSERT_TRUE(llama.waitUntilListening());
    const struct {
        nlohmann::json behaviour;
        std::string lastUser;
        std::string content;
        nlohmann::json finish;
    } cases[] = {
        {{{"content", "Hola."}}, "<dictado>hola</dictado>", "Hola.", "stop"},
        {{{"content", "Hola"}, {"finish_reason", "length"}}, "x", "Hola", "length"},
        {{{"rules", {{{"match", "martes"}, {"content", "El martes."}}}}, {"content", "Otro."}},
         "<dictado>eh el martes</dictado>",
         "El martes.",
         "stop"},
        {{{"rules", {{{"match", "martes"}, {"content", "El martes."}}}}, {"content", "Otro."}},
         "<dictado>el jueves</dictado>",
         "Otro.",
         "stop"},
    };
    for (const auto& c : cases) {
        dir.configure(StandinKind::Llama, c.behaviour);
        const auto response = chat(llama, messages(c.lastUser));
        ASSERT_EQ(response.status, 200);
        const auto json = nlohmann::json::parse(*response.body);
        EXPECT_EQ(json["object"], "chat.completion");
        EXPECT_EQ(json["choices"][0]["message"]["role"], "assistant");
        EXPECT_EQ(json["choices"][0]["message"]["content"], c.content);
        EXPECT_EQ(json["choices"][0]["finish_reason"], c.finish);
    }
    const auto sent = dir.requests(StandinKind::Llama, "/v1/chat/completions");
    ASSERT_EQ(sent.size(), std::size(cases));
    EXPECT_EQ(sent[0]["json"], messages("<dictado>hola</dictado>"));

    dir.configure(StandinKind::Llama, {{"contents", {"Uno.", "Dos."}}});
    const std::string expected[] = {"Uno.", "Dos.", "Dos."};
    for (const auto& content : expected) {
        const auto json = nlohmann::json::parse(*chat(llama, messages("x")).body);
        EXPECT_EQ(json["choices"][0]["message"]["content"], content);
    }
    const auto notJson = chat(llama, nlohmann::json("esto no es JSON"));
    EXPECT_EQ(notJson.status, 500);
}

// The stand-in takes as long as a model of the configured speeds would, reports it in
// `timings` as llama-server does, and counts the prefix it evaluated last time as cached.
TEST(Standin, ChatTakesTheTimeItsSpeedsAndTheCachedPrefixGive) {
    StandinDir dir;
    Standin llama(StandinKind::Llama, dir);
    ASSERT_TRUE(llama.waitUntilListening());
    dir.configure(StandinKind::Llama, {{"content", std::string(35, 'a')}, // 10 answer tokens
                                       {"prompt_per_second", 200.0},
                                       {"predicted_per_second", 20.0}});
    auto timingsOf = [&](const std::string& lastUser) {
        const auto response = chat(llama, messages(lastUser));
        EXPECT_EQ(response.status, 200);
        return nlohmann::json::parse(response.body.value_or("{}"))
            .value("timings", nlohmann::json());
    };
    const auto cold = timingsOf("<dictado>" + std::string(700, 'x') + "</dictado>");
    EXPECT_EQ(cold["cache_n"], 0);
    EXPECT_GT(cold["prompt_n"].get<int>(), 200);
    EXPECT_EQ(cold["predicted_n"], 10);
    EXPECT_NEAR(cold["prompt_per_second"].get<double>(), 200.0, 0.01);
    EXPECT_NEAR(cold["predicted_per_second"].get<double>(), 20.0, 0.01);
    EXPECT_NEAR(cold["predicted_ms"].get<double>(), 500.0, 0.01);

    // Only the new last message is evaluated: the shared prefix is cached.
    const auto warm = timingsOf("<dictado>hola</dictado>");
    EXPECT_GT(warm["cache_n"].get<int>(), 0);
    EXPECT_LT(warm["prompt_n"].get<int>(), 20);
    const auto answered = [&] {
        std::vector<double> seconds;
        for (const auto& entry : dir.records(StandinKind::Llama)) {
            if (entry.value("event", "") == "answered") {
                seconds.push_back(entry.value("seconds", 0.0));
            }
        }
        return seconds;
    }();
    ASSERT_EQ(answered.size(), 2u);
    // Over 200 prompt tokens at 200 a second, plus half a second of answer.
    EXPECT_GE(answered[0], 1.5);
    EXPECT_GE(answered[1], 0.5);
    EXPECT_LT(answered[1], answered[0]);
}

TEST(Standin, ExitsAfterTheChosenNumberOfRequests) {
    StandinDir dir;
    dir.configure(StandinKind::Llama, {{"exit_after_requests", 2}, {"exit_code", 7}});
    Standin llama(StandinKind::Llama, dir);
    ASSERT_TRUE(llama.waitUntilListening());
    EXPECT_EQ(get(llama, "/health").status, 200); // probes do not count
    EXPECT_EQ(chat(llama, messages("uno")).status, 200);
    EXPECT_EQ(chat(llama, messages("dos")).status, 200);
    EXPECT_EQ(exitCode(llama.process().wait(30s)), 7);
}

TEST(Standin, PortCanBeOverriddenFromTheEnvironment) {
    StandinDir dir;
    const int port = freePort();
    auto env = dir.environment();
    env["VOZMO_STANDIN_WHISPER_PORT"] = std::to_string(port);
    std::vector<std::string> argv{standinExecutable(StandinKind::Whisper).string()};
    for (const auto& arg : standinArguments(StandinKind::Whisper, dir.model(), 8178)) {
        argv.push_back(arg);
    }
    ChildProcess process(argv, env, dir.path() / "out.log");
    bool listening = false;
    for (int i = 0; i < 1500 && !listening && process.running(); ++i) {
        listening = portAnswers(port);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(listening);
    EXPECT_EQ(dir.records(StandinKind::Whisper).back()["port"], port);
}

// What a long dictation's test prints when the pasted words are not the spoken ones.
TEST(ToneWords, TheDifferenceNamesTheWordsLostAndAdded) {
    struct Case {
        std::string expected;
        std::string heard;
        std::string difference;
    };
    for (const Case& c : std::vector<Case>{
             {"uno dos tres", "uno dos tres", ""},
             {"uno dos tres", " uno  dos\ntres\n", ""},
             {"uno dos tres cuatro", "uno tres cuatro", "missing: dos (expected word 2)"},
             {"uno dos tres", "uno dos dos tres", "extra: dos (after expected word 2)"},
             {"uno dos tres", "uno cinco tres",
              "missing: dos (expected word 2); extra: cinco (after expected word 1)"},
             {"uno dos", "", "missing: uno (expected word 1), dos (expected word 2)"},
         }) {
        EXPECT_EQ(wordDifference(c.expected, c.heard), c.difference) << c.heard;
    }
}

} // namespace
} // namespace vozmo::test
