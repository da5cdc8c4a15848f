#include "server.h"

#include "config.h"
#include "find_binary.h"
#include "http.h"
#include "launch_records.h"
#include "log.h"
#include "main_thread.h"
#include "process_info.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRestarts = 3;
constexpr auto kRestartDelay = std::chrono::milliseconds(2000);
constexpr auto kProbePause = std::chrono::milliseconds(300);

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// 256 bits from the kernel's generator, in hexadecimal.
std::string newKey() {
    std::random_device device;
    static constexpr char digits[] = "0123456789abcdef";
    std::string key;
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t word = device();
        for (int k = 0; k < 8; ++k) {
            key += digits[(word >> (4 * k)) & 0xF];
        }
    }
    return key;
}

std::string portBusyLine(const ServerRole& role) {
    return userMessage(Error{role.portBusy, std::to_string(role.port)}) + "; no se le envía nada";
}

} // namespace

Server::Server(const ServerRole& role, Hooks hooks, std::chrono::milliseconds readinessLimit)
    : role_(role), hooks_(std::move(hooks)), readinessLimit_(readinessLimit),
      apiKey_(role.keyVariable.empty() ? std::string() : newKey()) {}

Server::~Server() {
    release();
}

Server::State Server::state() const {
    std::lock_guard guard(lock_);
    return state_;
}

bool Server::launched() const {
    const State now = state();
    return now == State::launching || now == State::ready || now == State::restarting ||
           now == State::reloading;
}

bool Server::available() const {
    return launchSpec().has_value();
}

std::optional<Server::LaunchSpec> Server::launchSpec() const {
    const std::filesystem::path& model = config().*role_.model;
    auto program = findBinary(std::string(role_.program));
    if (!program || !fileExists(model)) {
        return std::nullopt;
    }
    auto arguments = role_.arguments(model, role_.port, physicalCores());
    if (!role_.lowPriority) {
        return LaunchSpec{program->string(), std::move(arguments)};
    }
    ServerCommand command =
        lowPriority(program->string(), std::move(arguments), findBinary("nice"));
    return LaunchSpec{std::move(command.executable), std::move(command.arguments)};
}

template <typename Work> void Server::spawnThread(Work work) {
    std::lock_guard guard(threadsLock_);
    if (!threadsEnded_) {
        threads_.emplace_back(std::move(work));
    }
}

void Server::endThreads() {
    std::vector<std::jthread> ending;
    {
        std::lock_guard guard(threadsLock_);
        threadsEnded_ = true;
        ending = std::move(threads_);
    }
    for (auto& thread : ending) {
        thread.request_stop();
    }
    changed_.notify_all();
    for (auto& thread : ending) {
        // exit() called from one of these threads: it cannot join itself, and goes on ending
        // the process.
        if (thread.get_id() == std::this_thread::get_id()) {
            std::lock_guard guard(threadsLock_);
            threads_.push_back(std::move(thread));
        } else if (thread.joinable()) {
            thread.join();
        }
    }
}

void Server::close() {
    std::lock_guard guard(callbacks_);
    closed_ = true;
}

void Server::release() {
    endThreads();
    // Their watchers may be waiting for the lock in an exit callback: join them without it.
    std::shared_ptr<ChildProcess> running;
    std::vector<std::shared_ptr<ChildProcess>> ended;
    {
        std::lock_guard guard(lock_);
        running.swap(process_);
        ended.swap(ended_);
    }
}

void Server::notify() {
    changed_.notify_all();
    if (hooks_.changed) {
        hooks_.changed();
    }
}

std::shared_ptr<ChildProcess> Server::process() const {
    std::lock_guard guard(lock_);
    return process_;
}

bool Server::answersAreOurs() const {
    pid_t pid = 0;
    {
        std::lock_guard guard(lock_);
        if (state_ != State::ready || !process_) {
            return false;
        }
        pid = process_->pid();
    }
    return portHolder(role_.port, pid) == PortHolder::ours;
}

bool Server::enterPortBusy() {
    if (state_ == State::portBusy) {
        return false;
    }
    state_ = State::portBusy;
    log(portBusyLine(role_));
    return true;
}

void Server::start() {
    const auto spec = launchSpec();
    std::unique_lock guard(lock_);
    const bool idle = state_ == State::notLaunched || state_ == State::missing ||
                      state_ == State::portBusy || (state_ == State::reloading && !process_);
    if (!idle || stopping_) {
        return;
    }
    if (!spec) {
        if (state_ != State::missing && state_ != State::portBusy) {
            state_ = State::missing;
            log(std::string(role_.missingLog));
        }
        return;
    }
    // Whatever answers on a port we did not bind would hear the user's speech.
    if (portHolder(role_.port, 0) != PortHolder::none) {
        const bool news = enterPortBusy();
        guard.unlock();
        if (news) {
            notify();
        }
        return;
    }
    const bool wasBusy = state_ == State::portBusy;
    state_ = State::launching;
    guard.unlock();
    if (wasBusy) {
        notify();
    }
    launch(*spec);
}

void Server::launch(const LaunchSpec& spec) {
    // Every launch, restarts included, starts a fresh log.
    const auto logPath = config().logsDir / (std::string(role_.name) + ".log");
    int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    ChildProcess::Options options;
    options.executable = spec.executable;
    options.arguments = spec.arguments;
    options.outputFd = fd;
    if (!role_.keyVariable.empty()) {
        options.environment.emplace_back(std::string(role_.keyVariable), apiKey_);
    }
    options.onExit = [weak = weak_from_this()](pid_t pid, int) {
        if (auto self = weak.lock()) {
            std::lock_guard guard(self->callbacks_);
            if (!self->closed_) {
                self->exited(pid);
            }
        }
    };
    std::optional<Error> failure;
    std::shared_ptr<ChildProcess> process;
    {
        // Deciding and spawning under one lock: a stop() in between would otherwise leave a
        // fresh server running after the application has quit.
        std::lock_guard guard(lock_);
        if (stopping_) {
            state_ = State::notLaunched;
        } else if (auto spawned = ChildProcess::spawn(std::move(options))) {
            process = *spawned;
            process_ = process;
            state_ = State::launching;
            lastLaunch_ = spec;
            model_ = fileStamp(config().*role_.model).value_or(FileStamp{});
            if (auto identity = processIdentity(process->pid())) {
                writeLaunchRecord(role_.name, *identity);
            }
        } else {
            failure = spawned.error();
            state_ = State::gaveUp;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (!process) {
        if (failure) {
            log("No se pudo iniciar " + std::string(role_.name) + ": " + failure->detail);
            notify();
        }
        return;
    }
    log(std::string(role_.name) + " iniciado (pid " + std::to_string(process->pid()) + ")");
    spawnThread([this, weakProcess = std::weak_ptr<ChildProcess>(process)](std::stop_token stop) {
        probe(stop, weakProcess);
    });
}

void Server::probe(std::stop_token stop, std::weak_ptr<ChildProcess> weakProcess) {
    const auto started = Clock::now();
    HttpRequest request;
    request.url =
        "http://127.0.0.1:" + std::to_string(role_.port) + std::string(role_.readinessPath);
    request.timeoutSeconds = 1.0;
    request.stop = stop;
    while (Clock::now() - started < readinessLimit_ && !stop.stop_requested()) {
        pid_t pid = 0;
        {
            auto process = weakProcess.lock();
            if (!process || !process->isRunning()) {
                return;
            }
            pid = process->pid();
        }
        const int status = http(request).status;
        if (status == 200 || (role_.readyOnAnyAnswer && status > 0)) {
            const PortHolder holder = portHolder(role_.port, pid);
            if (holder == PortHolder::ours) {
                const double seconds =
                    std::chrono::duration<double>(Clock::now() - started).count();
                char line[128];
                std::snprintf(line, sizeof line, "%.*s listo en %.1f s",
                              static_cast<int>(role_.name.size()), role_.name.data(), seconds);
                {
                    // Logged before anyone can see it ready.
                    std::lock_guard guard(lock_);
                    if (state_ != State::launching || !process_ || process_->pid() != pid) {
                        return; // stopped, reloading or ended meanwhile
                    }
                    log(line);
                    state_ = State::ready;
                }
                notify();
                if (hooks_.ready) {
                    hooks_.ready(stop);
                }
                return;
            }
            if (holder == PortHolder::other) {
                // Ours cannot bind there; it is not left waiting for a port it will never get.
                std::shared_ptr<ChildProcess> process;
                {
                    std::lock_guard guard(lock_);
                    if (state_ == State::launching) {
                        enterPortBusy();
                    }
                    process = weakProcess.lock();
                }
                if (process) {
                    process->terminate();
                }
                notify();
                return;
            }
        }
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, stop, kProbePause, [this] { return stopping_; });
    }
    if (stop.stop_requested()) {
        return;
    }
    const auto limit = std::chrono::duration_cast<std::chrono::seconds>(readinessLimit_).count();
    giveUp("no estuvo listo en " + std::to_string(limit) + " s", weakProcess.lock());
}

// A launched server that will not come up: it is ended, and not launched again in this run.
void Server::giveUp(const std::string& why, const std::shared_ptr<ChildProcess>& process) {
    {
        std::lock_guard guard(lock_);
        if (stopping_ || state_ != State::launching || process_ != process) {
            return;
        }
        log(std::string(role_.name) + " " + why + "; se detiene y no se vuelve a iniciar (mira " +
            std::string(role_.name) + ".log)");
        state_ = State::gaveUp;
    }
    if (process) {
        process->terminate();
    }
    notify();
}

void Server::exited(pid_t pid) {
    int count = 0;
    State now = State::notLaunched;
    {
        std::lock_guard guard(lock_);
        removeLaunchRecord(role_.name, pid);
        if (!process_ || process_->pid() != pid) {
            return;
        }
        ended_.push_back(std::move(process_));
        process_.reset();
        if (stopping_) {
            changed_.notify_all();
            return;
        }
        if (state_ == State::reloading || state_ == State::portBusy || state_ == State::gaveUp) {
            now = state_; // ended on purpose
        } else {
            // Logged before the new state shows.
            count = ++crashes_;
            log(std::string(role_.name) + " se cerró inesperadamente (intento " +
                std::to_string(count) + ")");
            if (portHolder(role_.port, 0) != PortHolder::none) {
                // It could not bind: someone else took the port meanwhile.
                enterPortBusy();
            } else {
                state_ = count > kMaxRestarts ? State::gaveUp : State::restarting;
            }
            now = state_;
        }
    }
    if (now == State::reloading) {
        // Stopped on purpose to load a new model file: not a crash, and not counted as one.
        // Launched again from the main thread, which decides every first launch.
        postToMain([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->start();
            }
        });
        notify();
        return;
    }
    if (count == 0) {
        changed_.notify_all();
        return;
    }
    if (now == State::gaveUp) {
        log(std::string(role_.name) + " no se vuelve a iniciar (mira " + std::string(role_.name) +
            ".log)");
    }
    notify();
    if (now == State::restarting) {
        spawnThread([this](std::stop_token stop) { restartAfterPause(stop); });
    }
}

void Server::restartAfterPause(std::stop_token stop) {
    std::optional<LaunchSpec> spec;
    {
        std::unique_lock guard(lock_);
        if (changed_.wait_for(guard, stop, kRestartDelay, [this] { return stopping_; }) ||
            stop.stop_requested()) {
            return;
        }
        if (state_ != State::restarting) {
            return;
        }
        spec = lastLaunch_;
    }
    if (spec) {
        launch(*spec);
    }
}

void Server::reloadIfModelChanged() {
    std::shared_ptr<ChildProcess> process;
    {
        std::lock_guard guard(lock_);
        const auto stamp = fileStamp(config().*role_.model);
        if (stopping_ || !process_ || !stamp || *stamp == model_ || !process_->isRunning() ||
            (state_ != State::launching && state_ != State::ready)) {
            return;
        }
        state_ = State::reloading;
        process = process_;
    }
    notify();
    process->terminate(); // its exit launches the server again
}

void Server::stop() {
    std::shared_ptr<ChildProcess> running;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        running = process_;
    }
    changed_.notify_all();
    {
        // The warm-up and the probes end now rather than at their next step.
        std::lock_guard guard(threadsLock_);
        for (auto& thread : threads_) {
            thread.request_stop();
        }
    }
    if (running) {
        running->terminate();
    }
}

ServerWait Server::waitUntilReady(std::stop_token stop, std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    const auto settled = [this] {
        return stopping_ || state_ == State::ready || state_ == State::notLaunched ||
               state_ == State::missing || state_ == State::portBusy || state_ == State::gaveUp;
    };
    changed_.wait_for(guard, stop, limit, settled);
    if (stop.stop_requested()) {
        return ServerWait::stopped;
    }
    switch (state_) {
    case State::ready:
        return ServerWait::ready;
    case State::portBusy:
        return ServerWait::portBusy;
    case State::gaveUp:
        return ServerWait::gaveUp;
    default:
        break;
    }
    if (stopping_) {
        return ServerWait::stopped;
    }
    if (state_ == State::notLaunched || state_ == State::missing) {
        return ServerWait::notLaunched;
    }
    return ServerWait::timedOut;
}

} // namespace vozmo
