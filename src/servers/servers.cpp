#include "servers.h"

#include "child_process.h"
#include "config.h"
#include "find_binary.h"
#include "http.h"
#include "log.h"
#include "main_thread.h"
#include "polisher.h"
#include "vocabulary.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
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
    return {"-m",     config().whisperModelURL.string(),
            "--host", "127.0.0.1",
            "--port", std::to_string(WHISPER_PORT),
            "-t",     "4",
            "-l",     "es"};
}

std::vector<std::string> llmArguments() {
    return {"-m",     config().llmModelURL.string(),
            "--host", "127.0.0.1",
            "--port", std::to_string(LLM_PORT),
            "-ngl",   "99",
            "-c",     "4096",
            "-np",    "1",
            "--jinja"};
}

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
    std::set<std::string> gaveUp;
    // Main thread only.
    std::function<void()> onChange;

    void launch(const LaunchSpec& spec);
    static void probe(std::weak_ptr<Core> weakCore, std::weak_ptr<ChildProcess> process,
                      const LaunchSpec& spec);
    void exited(const LaunchSpec& spec);
    void setReady(const std::string& name, bool value);
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
                // Loads the model's weights and the prompt prefix before the first dictation.
                auto vocabulary = Vocabulary::load();
                Polisher::polish("hola qué tal esto es una prueba de arranque", vocabulary.words);
            }
            return;
        }
        std::this_thread::sleep_for(kProbePause);
    }
}

void Servers::Core::exited(const LaunchSpec& spec) {
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

void Servers::start() {
    killOrphans();
    auto whisper = findBinary("whisper-server");
    if (whisper && fileExists(config().whisperModelURL)) {
        core_->launch({"whisper", whisper->string(), whisperArguments(),
                       "http://127.0.0.1:" + std::to_string(WHISPER_PORT) + "/", true});
    } else {
        log("Whisper no disponible: falta whisper-server o el modelo");
    }
    auto llama = findBinary("llama-server");
    if (llama && fileExists(config().llmModelURL)) {
        core_->launch({"llm", llama->string(), llmArguments(),
                       "http://127.0.0.1:" + std::to_string(LLM_PORT) + "/health", false});
    } else {
        log("IA de pulido no disponible: falta llama-server o el modelo");
    }
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
