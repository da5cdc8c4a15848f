#include "config.h"
#include "polish_speed.h"
#include "process_info.h"
#include "server_command.h"
#include "servers.h"
#include "standin.h"
#include "temp_home.h"
#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::StandinKind;

using test::waitUntil;

std::vector<std::string> logMessages() {
    std::ifstream in(config().logsDir / "app.log");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        auto close = line.find("] ");
        out.push_back(close == std::string::npos ? line : line.substr(close + 2));
    }
    return out;
}

// A launch record as a run of the application leaves it: the server's start time and its
// launcher's.
void writeLaunchRecord(const std::string& name, pid_t server, const ProcessIdentity& owner) {
    auto identity = processIdentity(server);
    ASSERT_TRUE(identity);
    test::writeFile(config().runtimeDir / "servers" / (name + "-" + std::to_string(server)),
                    std::to_string(identity->startTicks) + " " + std::to_string(owner.pid) + " " +
                        std::to_string(owner.startTicks) + " " + identity->bootId + "\n");
}

bool logged(const std::string& message) {
    for (const auto& line : logMessages()) {
        if (line == message) {
            return true;
        }
    }
    return false;
}

int countMatching(const std::string& pattern) {
    std::regex re(pattern);
    int n = 0;
    for (const auto& line : logMessages()) {
        n += std::regex_match(line, re) ? 1 : 0;
    }
    return n;
}

// A private home with the stand-ins first on PATH, steered through VOZMO_STANDIN_DIR.
class ServersTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        // The launch records go to a private runtime folder, never the desktop's.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime_ = runtime ? std::optional<std::string>(runtime) : std::nullopt;
        std::filesystem::create_directories(home_.path() / "runtime");
        ::setenv("XDG_RUNTIME_DIR", (home_.path() / "runtime").c_str(), 1);
        initConfig({"vozmo"});
        ::setenv("VOZMO_STANDIN_DIR", dir_.path().c_str(), 1);
        ensureSupport();
    }
    void TearDown() override {
        ::setenv("PATH", savedPath_.c_str(), 1);
        if (savedRuntime_) {
            ::setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        ::unsetenv("VOZMO_STANDIN_DIR");
        // Whatever happened, no stand-in this test started keeps running.
        for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
            for (pid_t pid : dir_.startedPids(kind)) {
                if (test::processAlive(pid)) {
                    ::kill(pid, SIGKILL);
                }
            }
        }
    }
    void withStandins() {
        ::setenv("PATH", (test::standinBinDir().string() + ":" + savedPath_).c_str(), 1);
    }
    void withModels(bool whisper = true, bool llm = true) {
        if (whisper) {
            test::writeFile(config().whisperModelPath, "");
        }
        if (llm) {
            test::writeFile(config().llmModelPath, "");
        }
    }

    test::TempHome home_;
    test::StandinDir dir_;
    std::string savedPath_;
    std::optional<std::string> savedRuntime_;
};

TEST_F(ServersTest, NothingToStartWithoutExecutables) {
    withModels();
    ::setenv("PATH", "/nonexistent", 1);
    Servers servers;
    int changes = 0;
    servers.setOnChange([&] { ++changes; });
    EXPECT_FALSE(servers.whisperAvailable());
    EXPECT_FALSE(servers.llmAvailable());
    servers.start();
    waitUntil([] { return false; }, 500ms);
    EXPECT_TRUE(logged("Whisper no disponible: falta whisper-server o el modelo"));
    EXPECT_TRUE(logged("IA de pulido no disponible: falta llama-server o el modelo"));
    EXPECT_EQ(countMatching(".* iniciado .*"), 0);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(servers.whisperReady());
    EXPECT_FALSE(servers.llmReady());
    EXPECT_TRUE(dir_.records(StandinKind::Whisper).empty());
}

TEST_F(ServersTest, MissingSpeechModelStillLaunchesTheLanguageModel) {
    withStandins();
    withModels(/*whisper=*/false, /*llm=*/true);
    Servers servers;
    EXPECT_FALSE(servers.whisperAvailable());
    EXPECT_TRUE(servers.llmAvailable());
    servers.start();
    EXPECT_TRUE(logged("Whisper no disponible: falta whisper-server o el modelo"));
    ASSERT_TRUE(waitUntil([&] { return servers.llmReady(); }));
    EXPECT_FALSE(servers.whisperReady());
    // The exact command line, and the warm-up polish once ready.
    auto starts = dir_.records(StandinKind::Llama);
    ASSERT_FALSE(starts.empty());
    std::vector<std::string> argv = starts.front()["argv"];
    std::vector<std::string> expected = {"-m",     config().llmModelPath.string(),
                                         "--host", "127.0.0.1",
                                         "--port", "8179",
                                         "-t",     std::to_string(physicalCores()),
                                         "-ngl",   "99",
                                         "-c",     "4096",
                                         "-np",    "1",
                                         "--jinja"};
    ASSERT_EQ(argv.size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(argv.begin() + 1, argv.end()), expected);
    // Through nice: the speech server wins the cores.
    EXPECT_EQ(starts.front()["nice"].get<int>(), std::min(::getpriority(PRIO_PROCESS, 0) + 10, 19));
    ASSERT_TRUE(waitUntil(
        [&] { return !dir_.requests(StandinKind::Llama, "/v1/chat/completions").empty(); }));
    auto warmUp = dir_.requests(StandinKind::Llama, "/v1/chat/completions").front();
    EXPECT_EQ(warmUp["json"]["messages"].back()["content"].get<std::string>().find(
                  "hola qué tal esto es una prueba de arranque") != std::string::npos,
              true);
    servers.stop();
}

TEST_F(ServersTest, TheWarmUpWaitsForTheSpeechServerAndKeepsTheMeasuredSpeed) {
    withStandins();
    withModels();
    dir_.configure(StandinKind::Llama,
                   {{"prompt_per_second", 400.0}, {"predicted_per_second", 100.0}});
    Servers servers;
    auto speed = servers.polishSpeed();
    speed->speechStarted(); // a dictation is being transcribed
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.llmReady(); }));
    waitUntil([] { return false; }, 1500ms);
    EXPECT_TRUE(dir_.requests(StandinKind::Llama, "/v1/chat/completions").empty());
    EXPECT_FALSE(speed->warmedUp());

    speed->speechEnded();
    ASSERT_TRUE(waitUntil([&] { return speed->warmedUp(); }));
    EXPECT_EQ(dir_.requests(StandinKind::Llama, "/v1/chat/completions").size(), 1u);
    // The cold cache made the whole prompt count: a sound measure of both speeds.
    const auto known = speed->speeds();
    ASSERT_TRUE(known);
    EXPECT_NEAR(known->promptPerSecond, 400.0, 1.0);
    EXPECT_NEAR(known->predictedPerSecond, 100.0, 1.0);
    EXPECT_GT(known->promptTokens, 200);
    EXPECT_EQ(countMatching("IA: 400 tokens/s de entrada, 100\\.0 tokens/s de salida"), 1);
    servers.stop();
}

TEST_F(ServersTest, AReplacedModelRestartsOnlyItsServer) {
    withStandins();
    withModels(/*whisper=*/true, /*llm=*/false);
    Servers servers;
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    servers.reloadChangedModels(); // nothing changed
    EXPECT_EQ(dir_.startedPids(StandinKind::Whisper).size(), 1u);

    // The language model arrives: its server starts now.
    test::writeFile(config().llmModelPath, "llm");
    servers.reloadChangedModels();
    ASSERT_TRUE(waitUntil([&] { return servers.llmReady(); }));

    // Another speech model replaces the file (a new file, renamed over the old one).
    const auto fresh = config().modelsDir / "new.bin";
    test::writeFile(fresh, "small model");
    std::filesystem::rename(fresh, config().whisperModelPath);
    const pid_t before = dir_.startedPids(StandinKind::Whisper).front();
    servers.reloadChangedModels();
    ASSERT_TRUE(waitUntil([&] { return dir_.startedPids(StandinKind::Whisper).size() == 2u; }));
    EXPECT_FALSE(test::processAlive(before));
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    EXPECT_EQ(dir_.startedPids(StandinKind::Llama).size(), 1u);
    // A planned restart is not a crash and spends none of the crash restarts.
    EXPECT_EQ(countMatching(".*se cerró inesperadamente.*"), 0);
    servers.stop();
}

TEST_F(ServersTest, ReadinessRulesDifferPerServer) {
    withStandins();
    withModels();
    // The speech server is ready on any answer; the language model only on 200.
    dir_.configure(StandinKind::Whisper, {{"probe_status", 404}});
    dir_.configure(StandinKind::Llama, {{"probe_status", 503}, {"probe_status_seconds", 2.5}});
    Servers servers;
    std::vector<std::pair<bool, bool>> seen;
    servers.setOnChange([&] { seen.emplace_back(servers.whisperReady(), servers.llmReady()); });
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    EXPECT_FALSE(servers.llmReady());
    ASSERT_TRUE(waitUntil([&] { return servers.llmReady(); }));
    EXPECT_GE(dir_.requests(StandinKind::Llama, "/health").size(), 2u);
    EXPECT_TRUE(countMatching("whisper listo en \\d+\\.\\d s") == 1);
    EXPECT_TRUE(countMatching("llm listo en \\d+\\.\\d s") == 1);
    ASSERT_TRUE(waitUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen.back(), std::make_pair(true, true));
    servers.stop();
}

TEST_F(ServersTest, ACrashedServerIsRestartedThreeTimesOnly) {
    withStandins();
    withModels(/*whisper=*/true, /*llm=*/false);
    Servers servers;
    int changes = 0;
    servers.setOnChange([&] { ++changes; });
    servers.start();
    const auto logFile = config().logsDir / "whisper.log";
    std::vector<double> killedAt;
    for (int round = 1; round <= 4; ++round) {
        ASSERT_TRUE(waitUntil([&] {
            return servers.whisperReady() &&
                   dir_.startedPids(StandinKind::Whisper).size() == static_cast<size_t>(round);
        })) << "round "
            << round;
        // Each launch starts its own log afresh.
        test::writeFile(logFile, test::readFile(logFile) + "marca de la ronda anterior\n");
        pid_t pid = dir_.startedPids(StandinKind::Whisper).back();
        int changesBefore = changes;
        killedAt.push_back(
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        ::kill(pid, SIGKILL);
        ASSERT_TRUE(waitUntil([&] { return !servers.whisperReady(); }));
        ASSERT_TRUE(waitUntil([&] { return changes > changesBefore; }));
        EXPECT_TRUE(
            logged("whisper se cerró inesperadamente (intento " + std::to_string(round) + ")"));
        if (round < 4) {
            ASSERT_TRUE(waitUntil([&] {
                return dir_.startedPids(StandinKind::Whisper).size() ==
                       static_cast<size_t>(round + 1);
            }));
            EXPECT_EQ(test::readFile(logFile).find("marca"), std::string::npos);
            // The restart came about 2 s after the exit.
            double startedAt = 0;
            for (const auto& e : dir_.records(StandinKind::Whisper)) {
                if (e.value("event", "") == "start") {
                    startedAt = e.value("time", 0.0);
                }
            }
            EXPECT_GE(startedAt - killedAt.back(), 1.9);
        }
    }
    // The fourth exit is final.
    waitUntil([] { return false; }, 3500ms);
    EXPECT_EQ(dir_.startedPids(StandinKind::Whisper).size(), 4u);
    EXPECT_EQ(countMatching("whisper iniciado \\(pid \\d+\\)"), 4);
    EXPECT_FALSE(servers.whisperReady());
}

TEST_F(ServersTest, AnExitAfterStopIsNotACrash) {
    withStandins();
    withModels();
    Servers servers;
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady() && servers.llmReady(); }));
    int changes = 0;
    waitUntil([] { return false; }, 200ms);
    servers.setOnChange([&] { ++changes; });
    auto pids = dir_.startedPids(StandinKind::Whisper);
    auto llmPids = dir_.startedPids(StandinKind::Llama);
    servers.stop();
    ASSERT_TRUE(waitUntil(
        [&] { return !test::processAlive(pids.back()) && !test::processAlive(llmPids.back()); }));
    waitUntil([] { return false; }, 2500ms);
    EXPECT_EQ(countMatching(".*se cerró inesperadamente.*"), 0);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(dir_.startedPids(StandinKind::Whisper).size(), 1u);
    // stop() leaves the flags as they were.
    EXPECT_TRUE(servers.whisperReady());
}

// A library may end the process with exit(), past every owner: the servers must not outlive it,
// and the supervisor's threads must not run on while exit() destroys static objects (under
// AddressSanitizer the warm-up read a destroyed one).
TEST_F(ServersTest, AnExitPastTheOwnersStopsTheServers) {
    withStandins();
    withModels();
    // The death test runs this test again in a new process; its stand-ins record here, where
    // this process can see them. Set once: the new process inherits it and must not replace it.
    ::setenv("VOZMO_TEST_RECORDS", dir_.path().c_str(), 0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("VOZMO_STANDIN_DIR", std::getenv("VOZMO_TEST_RECORDS"), 1);
            Servers servers;
            servers.start();
            const bool ready =
                waitUntil([&] { return servers.whisperReady() && servers.llmReady(); });
            std::exit(ready ? 3 : 4);
        },
        ::testing::ExitedWithCode(3), "");
    ::unsetenv("VOZMO_TEST_RECORDS");
    const auto pids = dir_.startedPids(StandinKind::Whisper);
    const auto llmPids = dir_.startedPids(StandinKind::Llama);
    ASSERT_EQ(pids.size(), 1u);
    ASSERT_EQ(llmPids.size(), 1u);
    EXPECT_TRUE(waitUntil(
        [&] { return !test::processAlive(pids[0]) && !test::processAlive(llmPids[0]); }, 10s));
}

TEST_F(ServersTest, StopDuringTheRestartPauseLaunchesNothing) {
    withStandins();
    withModels(true, false);
    Servers servers;
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    ::kill(dir_.startedPids(StandinKind::Whisper).back(), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !servers.whisperReady(); }));
    servers.stop();
    waitUntil([] { return false; }, 3000ms);
    EXPECT_EQ(dir_.startedPids(StandinKind::Whisper).size(), 1u);
}

// Only a server that a Vozmo of this user launched, and that outlived it, is swept: never one a
// live run launched, never a process nobody recorded, even with the same command line and port.
TEST_F(ServersTest, TheSweepEndsOnlyWhatADeadRunLeft) {
    withStandins();
    withModels(false, false);
    auto standin = [&](StandinKind kind, int port) {
        auto argv = test::standinArguments(kind, dir_.model(), port);
        argv.insert(argv.begin(), test::standinExecutable(kind).string());
        return std::make_unique<test::ChildProcess>(argv, dir_.environment());
    };
    // A finished process stands for a run that is gone; a sleeping one for a run still going.
    test::ChildProcess deadRun({"/bin/sleep", "60"});
    const auto deadOwner = processIdentity(deadRun.pid());
    deadRun.stop();
    test::ChildProcess liveRun({"/bin/sleep", "60"});
    const auto liveOwner = processIdentity(liveRun.pid());
    ASSERT_TRUE(deadOwner && liveOwner);

    auto leftover = standin(StandinKind::Llama, LLM_PORT);
    const int otherPort = test::freePort();
    auto ofLiveRun = standin(StandinKind::Whisper, otherPort);
    auto unrecorded = standin(StandinKind::Whisper, WHISPER_PORT);
    ASSERT_TRUE(waitUntil([&] {
        return test::portAnswers(LLM_PORT) && test::portAnswers(otherPort) &&
               test::portAnswers(WHISPER_PORT);
    }));
    writeLaunchRecord("llm", leftover->pid(), *deadOwner);
    writeLaunchRecord("whisper", ofLiveRun->pid(), *liveOwner);

    Servers servers;
    EXPECT_TRUE(servers.inUseByAnotherRun());
    servers.start();
    EXPECT_TRUE(leftover->wait(10s).has_value()) << "the leftover of a dead run still runs";
    EXPECT_TRUE(ofLiveRun->running()) << "a live run's server was swept";
    EXPECT_TRUE(unrecorded->running()) << "a process nobody recorded was swept";
    servers.stop();
}

// Whatever answers on the speech server's port without being the process we launched never
// counts as our server: whether it was there first or took the port while ours was loading.
TEST_F(ServersTest, AForeignProgramOnThePortIsNotTrusted) {
    struct Case {
        const char* name;
        double bindDelay; // ours loads this long before it binds
        bool foreignFirst;
    };
    for (const Case& c :
         {Case{"already there", 0.0, true}, Case{"came while loading", 3.0, false}}) {
        SCOPED_TRACE(c.name);
        withStandins();
        withModels(true, false);
        dir_.configure(StandinKind::Whisper, {{"bind_delay", c.bindDelay}});
        std::unique_ptr<test::ChildProcess> foreign;
        auto startForeign = [&] {
            foreign = std::make_unique<test::ChildProcess>(
                std::vector<std::string>{"/usr/bin/python3", "-m", "http.server",
                                         std::to_string(WHISPER_PORT), "--bind", "127.0.0.1"});
            ASSERT_TRUE(waitUntil([&] { return test::portAnswers(WHISPER_PORT); }));
        };
        if (c.foreignFirst) {
            ASSERT_NO_FATAL_FAILURE(startForeign());
        }
        Servers servers;
        servers.start();
        if (!c.foreignFirst) {
            ASSERT_TRUE(waitUntil([&] { return servers.whisperLaunched(); }));
            ASSERT_NO_FATAL_FAILURE(startForeign());
        }
        ASSERT_TRUE(waitUntil([&] { return servers.whisperPortBusy(); }));
        waitUntil([] { return false; }, 1500ms);
        EXPECT_FALSE(servers.whisperReady());
        EXPECT_TRUE(logged("El puerto 8178 está ocupado por otro programa; no se le envía nada"));
        EXPECT_EQ(servers.waitForWhisper({}, 5s), Servers::Wait::portBusy);
        const Outcome ports = servers.portsFree();
        ASSERT_FALSE(ports);
        EXPECT_EQ(ports.error(), (Error{Error::Kind::speechServerPortBusy, "8178"}));
        EXPECT_EQ(userMessage(ports.error()), "El puerto 8178 está ocupado por otro programa");
        EXPECT_TRUE(foreign->running());
        servers.stop();
        foreign.reset();
        ASSERT_TRUE(waitUntil([&] {
            return std::none_of(dir_.startedPids(StandinKind::Whisper).begin(),
                                dir_.startedPids(StandinKind::Whisper).end(), test::processAlive);
        }));
    }
}

// A stop() that comes while a restart is being launched leaves no server behind. The restart is
// held up in opening its log (a named pipe nobody reads yet), after it decided to launch.
TEST_F(ServersTest, StopDuringARestartLeavesNoServerRunning) {
    withStandins();
    withModels(true, false);
    Servers servers;
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    const auto logFile = config().logsDir / "whisper.log";
    std::filesystem::remove(logFile);
    ASSERT_EQ(::mkfifo(logFile.c_str(), 0600), 0);
    ::kill(dir_.startedPids(StandinKind::Whisper).back(), SIGKILL);
    // The restart comes 2 s after the exit and then blocks on the pipe.
    waitUntil([] { return false; }, 3000ms);
    servers.stop();
    const int reader = ::open(logFile.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    waitUntil([] { return false; }, 2000ms);
    ::close(reader);
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto pids = dir_.startedPids(StandinKind::Whisper);
            return std::none_of(pids.begin(), pids.end(), test::processAlive);
        },
        10s))
        << "a server launched after stop() still runs";
}

// llama-server takes this run's key from its environment, never from its command line, and then
// answers only what carries it: the warm-up and the polish requests do, a foreign process that
// tries the server without it (or with another) is refused.
TEST_F(ServersTest, OnlyVozmoCanUseTheLanguageModel) {
    withStandins();
    withModels(/*whisper=*/false, /*llm=*/true);
    Servers servers;
    servers.start();
    ASSERT_TRUE(waitUntil([&] { return servers.polishSpeed()->warmedUp(); }));
    const std::string key = servers.llmApiKey();
    ASSERT_GE(key.size(), 32u);
    const pid_t pid = dir_.startedPids(StandinKind::Llama).back();
    EXPECT_EQ(test::readFile("/proc/" + std::to_string(pid) + "/cmdline").find(key),
              std::string::npos);
    const auto warmUp = dir_.requests(StandinKind::Llama, "/v1/chat/completions").front();
    EXPECT_EQ(test::recordedHeader(warmUp, "Authorization"), "Bearer " + key);

    // Exits 0 when the server refused it as llama-server does: 401 and an authentication error.
    const std::string foreign =
        "import json, sys, urllib.request, urllib.error\n"
        "headers = {'Content-Type': 'application/json'}\n"
        "if len(sys.argv) > 1: headers['Authorization'] = 'Bearer ' + sys.argv[1]\n"
        "request = urllib.request.Request('http://127.0.0.1:8179/v1/chat/completions',\n"
        "    data=b'{\"messages\": [{\"role\": \"user\", \"content\": \"hola\"}]}',\n"
        "    headers=headers)\n"
        "try:\n"
        "    urllib.request.urlopen(request, timeout=20)\n"
        "    sys.exit(2)\n"
        "except urllib.error.HTTPError as error:\n"
        "    body = json.load(error)['error']\n"
        "    sys.exit(0 if error.code == 401 and body['type'] == 'authentication_error' else 3)\n";
    for (const std::string& guess : {std::string(), std::string("0123456789abcdef")}) {
        SCOPED_TRACE(guess.empty() ? "without a key" : "with another key");
        std::vector<std::string> argv = {"/usr/bin/python3", "-c", foreign};
        if (!guess.empty()) {
            argv.push_back(guess);
        }
        test::ChildProcess client(argv);
        const auto status = client.wait(30s);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    }
    EXPECT_EQ(dir_.requests(StandinKind::Llama, "/v1/chat/completions").size(), 3u);

    // Vozmo's own polish goes through; without the key it fails with its reason in the log.
    PolishSpeed speed;
    EXPECT_TRUE(polishMeasured(speed, "hola qué tal", {}, LLM_PORT, 0, {}, key));
    const auto refused = polishMeasured(speed, "hola qué tal", {}, LLM_PORT, 0, {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), (Error{Error::Kind::polishFailed, "clave"}));
    servers.stop();
}

// A server that never becomes ready is ended and given up once its limit passes, with a line in
// the log that says what to look at; a dictation waiting for it learns at once.
TEST_F(ServersTest, AServerNeverReadyIsGivenUp) {
    withStandins();
    withModels(/*whisper=*/true, /*llm=*/false);
    dir_.configure(StandinKind::Whisper, {{"bind_delay", 120}});
    Servers servers(Servers::Limits{3s});
    int changes = 0;
    servers.setOnChange([&] { ++changes; });
    servers.start();
    ASSERT_TRUE(servers.whisperLaunched());
    EXPECT_EQ(servers.waitForWhisper({}, 60s), Servers::Wait::gaveUp);
    EXPECT_TRUE(servers.whisperGaveUp());
    EXPECT_FALSE(servers.whisperReady());
    EXPECT_FALSE(servers.whisperLaunched());
    EXPECT_TRUE(logged("whisper no estuvo listo en 3 s; se detiene y no se vuelve a iniciar "
                       "(mira whisper.log)"));
    const Outcome problem = servers.problem();
    ASSERT_FALSE(problem);
    EXPECT_EQ(problem.error().kind, Error::Kind::speechServerGaveUp);
    EXPECT_FALSE(userAdvice(problem.error()).empty());
    ASSERT_TRUE(waitUntil([&] { return changes > 0; }));
    // Its process is ended, and neither counted as a crash nor launched again.
    const auto pids = dir_.startedPids(StandinKind::Whisper);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return !test::processAlive(pids[0]); }, 10s));
    servers.start();
    waitUntil([] { return false; }, 2500ms);
    EXPECT_EQ(dir_.startedPids(StandinKind::Whisper).size(), 1u);
    EXPECT_EQ(countMatching(".*se cerró inesperadamente.*"), 0);
}

// Waiting for the speech server answers at once when it is not even launched, and wakes up as
// soon as it is ready rather than at some polling step.
TEST_F(ServersTest, WaitingForTheSpeechServer) {
    withModels(false, false);
    {
        Servers servers;
        servers.start();
        EXPECT_EQ(servers.waitForWhisper({}, 60s), Servers::Wait::notLaunched);
    }
    withStandins();
    withModels(true, false);
    dir_.configure(StandinKind::Whisper, {{"bind_delay", 1.0}});
    Servers servers;
    servers.start();
    std::stop_source cancelled;
    cancelled.request_stop();
    EXPECT_EQ(servers.waitForWhisper(cancelled.get_token(), 60s), Servers::Wait::stopped);
    std::optional<Servers::Wait> waited;
    std::thread waiter([&] { waited = servers.waitForWhisper({}, 60s); });
    // The readiness is announced through the main loop's queue as well; keep it turning.
    EXPECT_TRUE(waitUntil([&] { return servers.whisperReady(); }));
    waiter.join();
    EXPECT_EQ(waited, Servers::Wait::ready);
    servers.stop();
}

} // namespace
} // namespace vozmo

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
