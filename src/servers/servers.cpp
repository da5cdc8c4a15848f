#include "servers.h"

#include "child_process.h"
#include "config.h"
#include "find_binary.h"
#include "http.h"
#include "log.h"
#include "main_thread.h"
#include "polish_speed.h"
#include "polisher.h"
#include "process_info.h"
#include "server_command.h"
#include "vocabulary.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRestarts = 3;
constexpr auto kRestartDelay = std::chrono::milliseconds(2000);
constexpr auto kProbeLimit = std::chrono::seconds(300);
constexpr auto kProbePause = std::chrono::milliseconds(300);
constexpr auto kSweepGrace = std::chrono::seconds(3);

std::vector<std::string> whisperArguments() {
    return whisperServerArguments(config().whisperModelPath, WHISPER_PORT, physicalCores());
}

std::vector<std::string> llmArguments() {
    return llamaServerArguments(config().llmModelPath, LLM_PORT, physicalCores());
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
    int port = 0;
    bool anyStatus = false;
};

std::optional<LaunchSpec> whisperSpec() {
    auto whisper = findBinary("whisper-server");
    if (!whisper || !fileExists(config().whisperModelPath)) {
        return std::nullopt;
    }
    return LaunchSpec{"whisper",          whisper->string(),
                      whisperArguments(), "http://127.0.0.1:" + std::to_string(WHISPER_PORT) + "/",
                      WHISPER_PORT,       true};
}

std::optional<LaunchSpec> llmSpec() {
    auto llama = findBinary("llama-server");
    if (!llama || !fileExists(config().llmModelPath)) {
        return std::nullopt;
    }
    // The speech server comes first: the user waits for it, while polishing is optional.
    ServerCommand command = lowPriority(llama->string(), llmArguments(), findBinary("nice"));
    return LaunchSpec{"llm",
                      command.executable,
                      command.arguments,
                      "http://127.0.0.1:" + std::to_string(LLM_PORT) + "/health",
                      LLM_PORT,
                      false};
}

// Each launched server leaves a record "<name>-<pid>" holding its own start time and that of
// the Vozmo that launched it, so a later run can tell a leftover of a dead run from the servers
// of a live one, and either from an unrelated process that reuses the pid.
std::filesystem::path recordsDir() {
    return config().runtimeDir / "servers";
}

struct LaunchRecord {
    std::filesystem::path file;
    ProcessIdentity server;
    ProcessIdentity owner;
};

void writeRecord(const std::string& name, const ProcessIdentity& server) {
    auto self = processIdentity(::getpid());
    if (!self) {
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(recordsDir(), ec);
    std::filesystem::permissions(config().runtimeDir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    std::ofstream out(recordsDir() / (name + "-" + std::to_string(server.pid)), std::ios::trunc);
    out << server.startTicks << ' ' << self->pid << ' ' << self->startTicks << ' ' << server.bootId
        << '\n';
}

void removeRecord(const std::string& name, pid_t pid) {
    std::error_code ec;
    std::filesystem::remove(recordsDir() / (name + "-" + std::to_string(pid)), ec);
}

std::vector<LaunchRecord> readRecords() {
    std::vector<LaunchRecord> records;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(recordsDir(), ec)) {
        const std::string fileName = entry.path().filename().string();
        const auto dash = fileName.rfind('-');
        LaunchRecord record;
        record.file = entry.path();
        std::ifstream in(entry.path());
        try {
            record.server.pid = dash == std::string::npos
                                    ? 0
                                    : static_cast<pid_t>(std::stol(fileName.substr(dash + 1)));
        } catch (...) {
            record.server.pid = 0;
        }
        if (!(in >> record.server.startTicks >> record.owner.pid >> record.owner.startTicks >>
              record.server.bootId)) {
            record.server.pid = 0;
        }
        record.owner.bootId = record.server.bootId;
        records.push_back(std::move(record));
    }
    return records;
}

bool alive(const ProcessIdentity& recorded) {
    auto now = processIdentity(recorded.pid);
    return now && now->sameProcessAs(recorded) && now->uid == ::getuid();
}

Error portBusyError(const std::string& name) {
    return name == "whisper"
               ? Error{Error::Kind::speechServerPortBusy, std::to_string(WHISPER_PORT)}
               : Error{Error::Kind::polishServerPortBusy, std::to_string(LLM_PORT)};
}

} // namespace

struct Servers::Core : std::enable_shared_from_this<Servers::Core> {
    std::mutex lock;
    std::condition_variable_any changed;
    std::map<std::string, std::shared_ptr<ChildProcess>> procs;
    // Ended processes, kept until ~Servers: their exit callback must not release them, as the
    // thread that watched them cannot join itself.
    std::vector<std::shared_ptr<ChildProcess>> ended;
    std::map<std::string, int> restarts;
    bool whisperReady = false;
    bool llmReady = false;
    bool stopping = false;
    bool swept = false;
    std::set<std::string> launched; // running, starting or waiting for its restart
    std::set<std::string> gaveUp;
    std::set<std::string> portBusy;
    std::set<std::string> reportedMissing;
    // Main thread only.
    std::function<void()> onChange;
    std::shared_ptr<PolishSpeed> polishSpeed = std::make_shared<PolishSpeed>();
    // The model file each server was launched with, and the servers stopped to be launched
    // again with a new one.
    std::map<std::string, FileStamp> launchedModels;
    std::set<std::string> reloading;

    // Probes, restart pauses and the warm-up; joined by ~Servers.
    std::mutex threadsLock;
    std::vector<std::jthread> threads;
    bool shutDown = false;

    // Held by a process's exit callback from start to end. Once `closed` (the whole process is
    // ending), a callback touches nothing: exit() goes on to destroy the static objects, the
    // paths and the log among them, that it would use.
    std::mutex callbacks;
    bool closed = false;

    void startOne(const std::optional<LaunchSpec>& spec, const std::string& name);
    void launch(const LaunchSpec& spec);
    void probe(std::stop_token stop, std::weak_ptr<ChildProcess> process, const LaunchSpec& spec);
    void exited(const LaunchSpec& spec, pid_t pid);
    void setReady(const std::string& name, bool value);
    void markPortBusy(const LaunchSpec& spec);
    void warmUp(std::stop_token stop);
    bool reloaded(const LaunchSpec& spec);
    void notifyMain();
    template <typename Work> void spawnThread(Work work);
    void endThreads();
};

template <typename Work> void Servers::Core::spawnThread(Work work) {
    std::lock_guard guard(threadsLock);
    if (!shutDown) {
        threads.emplace_back(std::move(work));
    }
}

// Stops and joins the probes, restart pauses and the warm-up; none starts after this. Each
// honours its stop token, so this takes no longer than an HTTP transfer takes to cancel.
void Servers::Core::endThreads() {
    std::vector<std::jthread> ending;
    {
        std::lock_guard guard(threadsLock);
        shutDown = true;
        ending = std::move(threads);
    }
    for (auto& thread : ending) {
        thread.request_stop();
    }
    changed.notify_all();
    for (auto& thread : ending) {
        // exit() called from one of these threads: it cannot join itself, and goes on ending
        // the process.
        if (thread.get_id() == std::this_thread::get_id()) {
            std::lock_guard guard(threadsLock);
            threads.push_back(std::move(thread));
        } else if (thread.joinable()) {
            thread.join();
        }
    }
}

void Servers::Core::notifyMain() {
    changed.notify_all();
    postToMain([weak = weak_from_this()] {
        if (auto core = weak.lock(); core && core->onChange) {
            core->onChange();
        }
    });
}

void Servers::Core::setReady(const std::string& name, bool value) {
    {
        std::lock_guard guard(lock);
        (name == "whisper" ? whisperReady : llmReady) = value;
    }
    notifyMain();
}

// Called with `lock` held.
void Servers::Core::markPortBusy(const LaunchSpec& spec) {
    if (portBusy.insert(spec.name).second) {
        log(userMessage(portBusyError(spec.name)) + "; no se le envía nada");
    }
}

void Servers::Core::startOne(const std::optional<LaunchSpec>& spec, const std::string& name) {
    std::unique_lock guard(lock);
    if (!spec) {
        if (reportedMissing.insert(name).second) {
            log(name == "whisper" ? "Whisper no disponible: falta whisper-server o el modelo"
                                  : "IA de pulido no disponible: falta llama-server o el modelo");
        }
        return;
    }
    reportedMissing.erase(name);
    if (stopping || launched.count(name) > 0 || gaveUp.count(name) > 0) {
        return;
    }
    // Whatever answers on a port we did not bind would hear the user's speech.
    if (portHolder(spec->port, 0) != PortHolder::none) {
        const bool news = portBusy.count(name) == 0;
        markPortBusy(*spec);
        guard.unlock();
        if (news) {
            notifyMain();
        }
        return;
    }
    const bool wasBusy = portBusy.erase(name) > 0;
    launched.insert(name);
    guard.unlock();
    if (wasBusy) {
        notifyMain();
    }
    launch(*spec);
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
    options.onExit = [weak, spec](pid_t pid, int) {
        if (auto core = weak.lock()) {
            std::lock_guard guard(core->callbacks);
            if (!core->closed) {
                core->exited(spec, pid);
            }
        }
    };
    std::optional<Error> failure;
    std::shared_ptr<ChildProcess> process;
    {
        // Deciding and spawning under one lock: a stop() in between would otherwise leave a
        // fresh server running after the application has quit.
        std::lock_guard guard(lock);
        if (stopping) {
            launched.erase(spec.name);
        } else {
            auto spawned = ChildProcess::spawn(std::move(options));
            if (spawned) {
                process = *spawned;
                procs[spec.name] = process;
                launchedModels[spec.name] =
                    fileStamp(spec.name == "whisper" ? config().whisperModelPath
                                                     : config().llmModelPath)
                        .value_or(FileStamp{});
                if (auto identity = processIdentity(process->pid())) {
                    writeRecord(spec.name, *identity);
                }
            } else {
                failure = spawned.error();
                gaveUp.insert(spec.name);
                launched.erase(spec.name);
            }
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (!process) {
        if (failure) {
            log("No se pudo iniciar " + spec.name + ": " + failure->detail);
            notifyMain();
        }
        return;
    }
    log(spec.name + " iniciado (pid " + std::to_string(process->pid()) + ")");
    spawnThread([this, weakProcess = std::weak_ptr<ChildProcess>(process),
                 spec](std::stop_token stop) { probe(stop, weakProcess, spec); });
}

void Servers::Core::probe(std::stop_token stop, std::weak_ptr<ChildProcess> weakProcess,
                          const LaunchSpec& spec) {
    const auto started = Clock::now();
    HttpRequest request;
    request.url = spec.health;
    request.timeoutSeconds = 1.0;
    request.stop = stop;
    while (Clock::now() - started < kProbeLimit && !stop.stop_requested()) {
        pid_t pid = 0;
        {
            auto process = weakProcess.lock();
            if (!process || !process->isRunning()) {
                return;
            }
            pid = process->pid();
        }
        const int status = http(request).status;
        if (status == 200 || (spec.anyStatus && status > 0)) {
            const PortHolder holder = portHolder(spec.port, pid);
            if (holder == PortHolder::ours) {
                double seconds = std::chrono::duration<double>(Clock::now() - started).count();
                char line[128];
                std::snprintf(line, sizeof line, "%s listo en %.1f s", spec.name.c_str(), seconds);
                log(line);
                setReady(spec.name, true);
                if (spec.name == "llm") {
                    warmUp(stop);
                }
                return;
            }
            if (holder == PortHolder::other) {
                // Ours cannot bind there; it is not left waiting for a port it will never get.
                std::shared_ptr<ChildProcess> process;
                {
                    std::lock_guard guard(lock);
                    markPortBusy(spec);
                    gaveUp.insert(spec.name);
                    process = weakProcess.lock();
                }
                if (process) {
                    process->terminate();
                }
                notifyMain();
                return;
            }
        }
        std::unique_lock guard(lock);
        changed.wait_for(guard, stop, kProbePause, [this] { return stopping; });
    }
}

// Loads the model's weights and the prompt prefix before the first dictation, once no
// transcription runs, and keeps the speed the server reports.
void Servers::Core::warmUp(std::stop_token stop) {
    // A new model, or the same one restarted, is measured afresh.
    polishSpeed->reset();
    while (!polishSpeed->waitForSpeechIdle(kSpeechIdleWait)) {
        if (stop.stop_requested()) {
            return;
        }
    }
    auto vocabulary = Vocabulary::load();
    polishMeasured(*polishSpeed, "hola qué tal esto es una prueba de arranque", vocabulary.words,
                   LLM_PORT, kWarmUpLimitSeconds, stop);
    if (stop.stop_requested()) {
        return;
    }
    polishSpeed->setWarmedUp(true);
    if (auto timings = polishSpeed->speeds()) {
        char line[160];
        std::snprintf(line, sizeof line, "IA: %.0f tokens/s de entrada, %.1f tokens/s de salida",
                      timings->promptPerSecond, timings->predictedPerSecond);
        log(line);
    }
}

// Called with `lock` held, once the process that left has been removed from `procs`.
bool Servers::Core::reloaded(const LaunchSpec& spec) {
    if (reloading.erase(spec.name) == 0 || stopping) {
        return false;
    }
    // Stopped on purpose to load a new model file: not a crash, and not counted as one.
    whisperReady = spec.name == "whisper" ? false : whisperReady;
    llmReady = spec.name == "llm" ? false : llmReady;
    launched.erase(spec.name);
    postToMain([weak = weak_from_this(), name = spec.name] {
        if (auto core = weak.lock()) {
            core->startOne(name == "whisper" ? whisperSpec() : llmSpec(), name);
        }
    });
    return true;
}

void Servers::Core::exited(const LaunchSpec& spec, pid_t pid) {
    int count = 0;
    bool reload = false;
    {
        std::lock_guard guard(lock);
        removeRecord(spec.name, pid);
        auto current = procs.find(spec.name);
        if (current == procs.end() || current->second->pid() != pid) {
            return;
        }
        ended.push_back(std::move(current->second));
        procs.erase(current);
        reload = reloaded(spec);
    }
    if (reload) {
        notifyMain();
        return;
    }
    {
        std::lock_guard guard(lock);
        if (stopping || portBusy.count(spec.name) > 0) {
            launched.erase(spec.name);
            changed.notify_all();
            return;
        }
        count = ++restarts[spec.name];
        // It could not bind: someone else took the port meanwhile.
        if (portHolder(spec.port, 0) != PortHolder::none) {
            markPortBusy(spec);
            gaveUp.insert(spec.name);
        }
        if (count > kMaxRestarts) {
            gaveUp.insert(spec.name);
        }
        if (gaveUp.count(spec.name) > 0) {
            launched.erase(spec.name);
        }
    }
    log(spec.name + " se cerró inesperadamente (intento " + std::to_string(count) + ")");
    setReady(spec.name, false);
    {
        std::lock_guard guard(lock);
        if (gaveUp.count(spec.name) > 0) {
            return;
        }
    }
    spawnThread([this, spec](std::stop_token stop) {
        {
            std::unique_lock guard(lock);
            if (changed.wait_for(guard, stop, kRestartDelay, [this] { return stopping; }) ||
                stop.stop_requested()) {
                launched.erase(spec.name);
                return;
            }
        }
        launch(spec);
    });
}

namespace {

// A library that ends the process with exit() goes past every owner's clean-up, and the servers
// would run on without us. exit() still calls its handlers, so every supervisor alive then is
// stopped from one; the lost display's handler stops them the same way. atexit takes no
// context: hence this one registry. The supervisor's own threads are joined there too: exit()
// goes on to destroy static objects, which they must not be using by then.
struct LiveServers {
    std::mutex lock;
    std::set<Servers*> all;
};

LiveServers& liveServers() {
    // Built before the handler is registered, so it is destroyed only after the handler ran.
    static LiveServers live;
    static const bool registered = [] {
        // No waiting there: exit() must not hang on a server slow to go.
        return std::atexit([] { Servers::stopAll(std::chrono::milliseconds(0)); }) == 0;
    }();
    (void)registered;
    return live;
}

} // namespace

void Servers::stopAll(std::chrono::milliseconds limit) {
    std::vector<std::shared_ptr<ChildProcess>> running;
    std::vector<std::shared_ptr<Core>> cores;
    {
        LiveServers& live = liveServers();
        std::lock_guard guard(live.lock);
        for (Servers* one : live.all) {
            one->stop();
            one->core_->endThreads();
            cores.push_back(one->core_);
            std::lock_guard coreGuard(one->core_->lock);
            for (auto& [name, process] : one->core_->procs) {
                running.push_back(process);
            }
        }
    }
    // Their watcher threads notice the exits; nothing else is left to wake us.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline &&
           std::any_of(running.begin(), running.end(),
                       [](const auto& process) { return process->isRunning(); })) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A server that ends after this goes unnoticed; its record is swept by the next run.
    for (auto& core : cores) {
        std::lock_guard guard(core->callbacks);
        core->closed = true;
    }
}

Servers::Servers() : core_(std::make_shared<Core>()) {
    // Before the exit handler is registered: the probes' requests must end before their HTTP
    // library is cleaned up at exit.
    httpSetUp();
    LiveServers& live = liveServers();
    std::lock_guard guard(live.lock);
    live.all.insert(this);
}

Servers::~Servers() {
    {
        LiveServers& live = liveServers();
        std::lock_guard guard(live.lock);
        live.all.erase(this);
    }
    core_->endThreads();
    // Their watchers may be waiting for the lock in an exit callback: join them without it.
    std::map<std::string, std::shared_ptr<ChildProcess>> procs;
    std::vector<std::shared_ptr<ChildProcess>> ended;
    {
        std::lock_guard guard(core_->lock);
        procs.swap(core_->procs);
        ended.swap(core_->ended);
    }
}

bool Servers::whisperAvailable() const {
    return whisperSpec().has_value();
}

bool Servers::llmAvailable() const {
    return llmSpec().has_value();
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

bool Servers::whisperLaunched() const {
    std::lock_guard guard(core_->lock);
    return core_->launched.count("whisper") > 0;
}

bool Servers::whisperPortBusy() const {
    std::lock_guard guard(core_->lock);
    return core_->portBusy.count("whisper") > 0;
}

bool Servers::llmPortBusy() const {
    std::lock_guard guard(core_->lock);
    return core_->portBusy.count("llm") > 0;
}

Outcome Servers::portsFree() const {
    std::lock_guard guard(core_->lock);
    for (const std::string name : {"whisper", "llm"}) {
        if (core_->portBusy.count(name) > 0) {
            return portBusyError(name);
        }
    }
    return Done{};
}

void Servers::setOnChange(std::function<void()> onChange) {
    core_->onChange = std::move(onChange);
}

bool Servers::inUseByAnotherRun() const {
    for (const auto& record : readRecords()) {
        if (record.server.pid > 0 && record.owner.pid != ::getpid() && alive(record.owner) &&
            alive(record.server)) {
            return true;
        }
    }
    return false;
}

void Servers::killOrphans() {
    for (const auto& record : readRecords()) {
        if (record.server.pid <= 0) {
            std::error_code ec;
            std::filesystem::remove(record.file, ec);
            continue;
        }
        if (alive(record.owner)) {
            continue; // the servers of a run that is still going
        }
        if (alive(record.server)) {
            log("Se cierra un servidor que dejó una ejecución anterior (pid " +
                std::to_string(record.server.pid) + ")");
            // Until its last thread has ended it may still hold its port, and the new server
            // would find the port taken.
            const auto waitForEnd = [&](auto limit) {
                const auto until = Clock::now() + limit;
                while (anyThreadRunning(record.server) && Clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            };
            ::kill(record.server.pid, SIGTERM);
            waitForEnd(kSweepGrace);
            if (anyThreadRunning(record.server)) {
                ::kill(record.server.pid, SIGKILL);
                waitForEnd(std::chrono::seconds(1));
            }
        }
        std::error_code ec;
        std::filesystem::remove(record.file, ec);
    }
}

void Servers::start() {
    bool sweep = false;
    {
        std::lock_guard guard(core_->lock);
        sweep = !core_->swept;
        core_->swept = true;
    }
    if (sweep) {
        killOrphans();
    }
    core_->startOne(whisperSpec(), "whisper");
    core_->startOne(llmSpec(), "llm");
}

void Servers::reloadChangedModels() {
    std::vector<std::shared_ptr<ChildProcess>> toStop;
    {
        std::lock_guard guard(core_->lock);
        if (!core_->swept || core_->stopping) {
            return;
        }
        for (const std::string name : {"whisper", "llm"}) {
            const auto stamp =
                fileStamp(name == "whisper" ? config().whisperModelPath : config().llmModelPath);
            const auto running = core_->procs.find(name);
            if (running != core_->procs.end() && stamp && running->second->isRunning() &&
                *stamp != core_->launchedModels[name] && core_->reloading.count(name) == 0) {
                core_->reloading.insert(name);
                toStop.push_back(running->second);
            }
        }
    }
    for (const auto& process : toStop) {
        process->terminate(); // its exit launches the server again
    }
    // A server whose model has only now arrived.
    start();
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
    core_->changed.notify_all();
    {
        // The warm-up and the probes end now rather than at their next step.
        std::lock_guard guard(core_->threadsLock);
        for (auto& thread : core_->threads) {
            thread.request_stop();
        }
    }
    for (auto& process : running) {
        process->terminate();
    }
}

Servers::Wait Servers::waitForWhisper(std::stop_token stop, std::chrono::milliseconds limit) {
    Core& core = *core_;
    std::unique_lock guard(core.lock);
    core.changed.wait_for(guard, stop, limit, [&] {
        return core.whisperReady || core.stopping || core.launched.count("whisper") == 0 ||
               core.portBusy.count("whisper") > 0 || core.gaveUp.count("whisper") > 0;
    });
    if (stop.stop_requested()) {
        return Wait::stopped;
    }
    if (core.whisperReady) {
        return Wait::ready;
    }
    if (core.portBusy.count("whisper") > 0) {
        return Wait::portBusy;
    }
    if (core.gaveUp.count("whisper") > 0) {
        return Wait::gaveUp;
    }
    if (core.stopping) {
        return Wait::stopped;
    }
    if (core.launched.count("whisper") == 0) {
        return Wait::notLaunched;
    }
    return Wait::timedOut;
}

} // namespace vozmo
