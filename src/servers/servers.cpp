#include "servers.h"

#include "child_process.h"
#include "config.h"
#include "find_binary.h"
#include "http.h"
#include "log.h"
#include "main_thread.h"
#include "polish_speed.h"
#include "polisher.h"
#include "server_command.h"
#include "vocabulary.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRestarts = 3;
constexpr auto kRestartDelay = std::chrono::milliseconds(2000);
constexpr auto kProbeLimit = std::chrono::seconds(300);
constexpr auto kProbePause = std::chrono::milliseconds(300);

std::vector<std::string> whisperArguments() {
    return whisperServerArguments(config().whisperModelURL, WHISPER_PORT, physicalCores());
}

std::vector<std::string> llmArguments() {
    return llamaServerArguments(config().llmModelURL, LLM_PORT, physicalCores());
}

// The warm-up evaluates the whole prompt prefix from a cold cache: on a slow processor that
// takes far longer than a dictation's polish may.
constexpr double kWarmUpLimitSeconds = 300;
constexpr auto kSpeechIdleWait = std::chrono::seconds(1);

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Everything a restart needs to repeat a launch exactly.
struct LaunchSpec {
    std::string name;
    std::string executable;
    std::vector<std::string> arguments;
    std::string health;
    bool anyStatus = false;
};

} // namespace

struct Servers::Core : std::enable_shared_from_this<Servers::Core> {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<ChildProcess>> procs;
    std::map<std::string, int> restarts;
    bool whisperReady = false;
    bool llmReady = false;
    bool stopping = false;
    bool started = false;
    std::set<std::string> gaveUp;
    // Main thread only.
    std::function<void()> onChange;
    std::shared_ptr<PolishSpeed> polishSpeed = std::make_shared<PolishSpeed>();
    // The model file each server was launched with, and the servers stopped to be launched
    // again with a new one.
    std::map<std::string, FileStamp> launchedModels;
    std::set<std::string> reloading;

    void launch(const LaunchSpec& spec);
    static void probe(std::weak_ptr<Core> weakCore, std::weak_ptr<ChildProcess> process,
                      const LaunchSpec& spec);
    void exited(const LaunchSpec& spec);
    void setReady(const std::string& name, bool value);
    static void warmUp(std::weak_ptr<Core> weakCore);
    bool reloaded(const LaunchSpec& spec);
};

void Servers::Core::setReady(const std::string& name, bool value) {
    {
        std::lock_guard guard(lock);
        (name == "whisper" ? whisperReady : llmReady) = value;
    }
    postToMain([weak = weak_from_this()] {
        if (auto core = weak.lock(); core && core->onChange) {
            core->onChange();
        }
    });
}

void Servers::Core::launch(const LaunchSpec& spec) {
    // Every launch, restarts included, starts a fresh log.
    const auto logPath = config().logsDir / (spec.name + ".log");
    int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    std::weak_ptr<Core> weak = weak_from_this();
    ChildProcess::Options options;
    options.executable = spec.executable;
    options.arguments = spec.arguments;
    options.outputFd = fd;
    options.onExit = [weak, spec](int) {
        if (auto core = weak.lock()) {
            core->exited(spec);
        }
    };
    std::string error;
    auto process = ChildProcess::spawn(std::move(options), error);
    if (fd >= 0) {
        ::close(fd);
    }
    if (!process) {
        log("No se pudo iniciar " + spec.name + ": " + error);
        std::lock_guard guard(lock);
        gaveUp.insert(spec.name);
        return;
    }
    {
        std::lock_guard guard(lock);
        procs[spec.name] = process;
        launchedModels[spec.name] =
            fileStamp(spec.name == "whisper" ? config().whisperModelURL : config().llmModelURL)
                .value_or(FileStamp{});
    }
    log(spec.name + " iniciado (pid " + std::to_string(process->pid()) + ")");
    std::thread(&Core::probe, weak, std::weak_ptr<ChildProcess>(process), spec).detach();
}

// Holds the supervisor weakly between attempts, so a probe outliving it does nothing.
void Servers::Core::probe(std::weak_ptr<Core> weakCore, std::weak_ptr<ChildProcess> weakProcess,
                          const LaunchSpec& spec) {
    const auto started = Clock::now();
    HttpRequest request;
    request.url = spec.health;
    request.timeoutSeconds = 1.0;
    while (Clock::now() - started < kProbeLimit) {
        {
            auto process = weakProcess.lock();
            if (!process || !process->isRunning() || weakCore.expired()) {
                return;
            }
        }
        int status = http(request).status;
        auto core = weakCore.lock();
        if (!core) {
            return;
        }
        if (status == 200 || (spec.anyStatus && status > 0)) {
            double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            char line[128];
            std::snprintf(line, sizeof line, "%s listo en %.1f s", spec.name.c_str(), seconds);
            log(line);
            core->setReady(spec.name, true);
            if (spec.name == "llm") {
                core.reset();
                warmUp(weakCore);
            }
            return;
        }
        std::this_thread::sleep_for(kProbePause);
    }
}

// Loads the model's weights and the prompt prefix before the first dictation, once no
// transcription runs, and keeps the speed the server reports.
void Servers::Core::warmUp(std::weak_ptr<Core> weakCore) {
    std::shared_ptr<PolishSpeed> speed;
    if (auto core = weakCore.lock()) {
        speed = core->polishSpeed;
    } else {
        return;
    }
    // A new model, or the same one restarted, is measured afresh.
    speed->reset();
    while (!speed->waitForSpeechIdle(kSpeechIdleWait)) {
        if (weakCore.expired()) {
            return;
        }
    }
    auto vocabulary = Vocabulary::load();
    polishMeasured(*speed, "hola qué tal esto es una prueba de arranque", vocabulary.words,
                   LLM_PORT, kWarmUpLimitSeconds);
    speed->setWarmedUp(true);
    if (auto timings = speed->speeds()) {
        char line[160];
        std::snprintf(line, sizeof line, "IA: %.0f tokens/s de entrada, %.1f tokens/s de salida",
                      timings->promptPerSecond, timings->predictedPerSecond);
        log(line);
    }
}

bool Servers::Core::reloaded(const LaunchSpec& spec) {
    {
        std::lock_guard guard(lock);
        if (reloading.erase(spec.name) == 0 || stopping) {
            return false;
        }
    }
    // Stopped on purpose to load a new model file: not a crash, and not counted as one.
    setReady(spec.name, false);
    postToMain([weak = weak_from_this(), spec] {
        if (auto core = weak.lock()) {
            std::unique_lock guard(core->lock);
            if (!core->stopping) {
                guard.unlock();
                core->launch(spec);
            }
        }
    });
    return true;
}

void Servers::Core::exited(const LaunchSpec& spec) {
    if (reloaded(spec)) {
        return;
    }
    bool wasStopping = false;
    int count = 0;
    {
        std::lock_guard guard(lock);
        wasStopping = stopping;
        count = ++restarts[spec.name];
        if (count > kMaxRestarts) {
            gaveUp.insert(spec.name);
        }
    }
    if (wasStopping) {
        return;
    }
    log(spec.name + " se cerró inesperadamente (intento " + std::to_string(count) + ")");
    setReady(spec.name, false);
    if (count > kMaxRestarts) {
        return;
    }
    std::thread([weak = weak_from_this(), spec] {
        std::this_thread::sleep_for(kRestartDelay);
        auto core = weak.lock();
        if (!core) {
            return;
        }
        {
            // A stop() during the pause must not be followed by a fresh server that would
            // outlive the application.
            std::lock_guard guard(core->lock);
            if (core->stopping) {
                return;
            }
        }
        core->launch(spec);
    }).detach();
}

Servers::Servers() : core_(std::make_shared<Core>()) {}

Servers::~Servers() = default;

bool Servers::whisperAvailable() const {
    return findBinary("whisper-server").has_value() && fileExists(config().whisperModelURL);
}

bool Servers::llmAvailable() const {
    return findBinary("llama-server").has_value() && fileExists(config().llmModelURL);
}

bool Servers::whisperReady() const {
    std::lock_guard guard(core_->lock);
    return core_->whisperReady;
}

bool Servers::llmReady() const {
    std::lock_guard guard(core_->lock);
    return core_->llmReady;
}

bool Servers::whisperGaveUp() const {
    std::lock_guard guard(core_->lock);
    return core_->gaveUp.count("whisper") > 0;
}

void Servers::setOnChange(std::function<void()> onChange) {
    core_->onChange = std::move(onChange);
}

void Servers::killOrphans() {
    runAndWait("/usr/bin/pkill", {"-f", "whisper-server.*--port " + std::to_string(WHISPER_PORT)});
    runAndWait("/usr/bin/pkill", {"-f", "llama-server.*--port " + std::to_string(LLM_PORT)});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

namespace {

const std::filesystem::path& modelOf(const std::string& name) {
    return name == "whisper" ? config().whisperModelURL : config().llmModelURL;
}

// How a server is launched: absent when its program or model file is missing.
std::optional<LaunchSpec> launchSpec(const std::string& name) {
    if (name == "whisper") {
        auto whisper = findBinary("whisper-server");
        if (!whisper || !fileExists(config().whisperModelURL)) {
            return std::nullopt;
        }
        return LaunchSpec{"whisper", whisper->string(), whisperArguments(),
                          "http://127.0.0.1:" + std::to_string(WHISPER_PORT) + "/", true};
    }
    auto llama = findBinary("llama-server");
    if (!llama || !fileExists(config().llmModelURL)) {
        return std::nullopt;
    }
    // The speech server comes first: the user waits for it, while polishing is optional.
    ServerCommand command = lowPriority(llama->string(), llmArguments(), findBinary("nice"));
    return LaunchSpec{"llm", command.executable, command.arguments,
                      "http://127.0.0.1:" + std::to_string(LLM_PORT) + "/health", false};
}

} // namespace

void Servers::start() {
    killOrphans();
    {
        std::lock_guard guard(core_->lock);
        core_->started = true;
    }
    if (auto whisper = launchSpec("whisper")) {
        core_->launch(*whisper);
    } else {
        log("Whisper no disponible: falta whisper-server o el modelo");
    }
    if (auto llm = launchSpec("llm")) {
        core_->launch(*llm);
    } else {
        log("IA de pulido no disponible: falta llama-server o el modelo");
    }
}

void Servers::reloadChangedModels() {
    std::vector<std::shared_ptr<ChildProcess>> toStop;
    std::vector<std::string> toLaunch;
    {
        std::lock_guard guard(core_->lock);
        if (!core_->started || core_->stopping) {
            return;
        }
        for (const std::string name : {"whisper", "llm"}) {
            const auto stamp = fileStamp(modelOf(name));
            const auto running = core_->procs.find(name);
            if (running == core_->procs.end()) {
                // Its model was missing at start; it may be there now.
                if (stamp && core_->gaveUp.count(name) == 0) {
                    toLaunch.push_back(name);
                }
            } else if (stamp && running->second->isRunning() &&
                       *stamp != core_->launchedModels[name] && !core_->reloading.count(name)) {
                core_->reloading.insert(name);
                toStop.push_back(running->second);
            }
        }
    }
    for (const auto& process : toStop) {
        process->terminate(); // its exit launches the server again
    }
    for (const auto& name : toLaunch) {
        if (auto spec = launchSpec(name)) {
            core_->launch(*spec);
        }
    }
}

std::shared_ptr<PolishSpeed> Servers::polishSpeed() const {
    return core_->polishSpeed;
}

void Servers::stop() {
    std::vector<std::shared_ptr<ChildProcess>> running;
    {
        std::lock_guard guard(core_->lock);
        core_->stopping = true;
        for (auto& [name, process] : core_->procs) {
            running.push_back(process);
        }
    }
    for (auto& process : running) {
        process->terminate();
    }
}

} // namespace vozmo
