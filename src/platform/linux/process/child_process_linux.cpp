#include "child_process.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vozmo {

struct ChildProcess::State {
    std::mutex mutex;
    std::condition_variable exited;
    bool running = true;
    // Readable once the child has ended; -1 where the kernel has no pidfd.
    int pidFd = -1;
    // Written by the owner to end the watch early.
    int wakeFd = -1;
    // Notices the exit; owned, and joined when the ChildProcess goes.
    std::thread watcher;

    ~State() {
        for (int fd : {pidFd, wakeFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
};

namespace {

std::vector<char*> argvFor(const std::string& executable, std::vector<std::string>& arguments,
                           std::string& argv0) {
    argv0 = executable;
    std::vector<char*> argv;
    argv.push_back(argv0.data());
    for (auto& arg : arguments) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Our environment with `extra` added, each replacing a variable of its name.
std::vector<std::string>
environmentWith(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> out;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable(*entry);
        const auto replaced = [&](const auto& added) {
            return variable.size() > added.first.size() && variable.starts_with(added.first) &&
                   variable[added.first.size()] == '=';
        };
        if (std::none_of(extra.begin(), extra.end(), replaced)) {
            out.emplace_back(variable);
        }
    }
    for (const auto& [name, value] : extra) {
        out.push_back(name + "=" + value);
    }
    return out;
}

Result<pid_t> spawnProcess(const std::string& executable, std::vector<std::string> arguments,
                           int outputFd,
                           const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    }
    // Nothing else of ours: a server would hold on to whatever it inherited (a pipe a parent
    // waits on, a socket, a lock) for as long as it runs.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with default signal handling, whatever this process installed.
    sigset_t all;
    sigfillset(&all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::string argv0;
    auto argv = argvFor(executable, arguments, argv0);
    std::vector<std::string> variables;
    std::vector<char*> envp;
    if (!extra.empty()) {
        variables = environmentWith(extra);
        for (auto& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, executable.c_str(), &actions, &attr, argv.data(),
                         extra.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        return Error{Error::Kind::processNotStarted, std::strerror(rc)};
    }
    return pid;
}

} // namespace

ChildProcess::ChildProcess(Key, pid_t pid, std::shared_ptr<State> state)
    : pid_(pid), state_(std::move(state)) {}

ChildProcess::~ChildProcess() {
    std::thread& watcher = state_->watcher;
    if (!watcher.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    if (state_->wakeFd >= 0) {
        [[maybe_unused]] auto written = ::write(state_->wakeFd, &one, sizeof one);
    }
    if (watcher.get_id() == std::this_thread::get_id()) {
        // Released from inside its own exit callback. A thread cannot join itself, and a
        // detached one would outlive its owner unseen: owners keep ended processes until they
        // go themselves.
        assert(!"a ChildProcess was released from its own exit callback");
        std::fputs("vozmo: a ChildProcess was released from its own exit callback\n", stderr);
        std::abort();
    }
    watcher.join();
}

namespace {

// Blocks until the child has ended (true) or `wakeFd` is written (false).
bool waitForExit(pid_t pid, int pidFd, int wakeFd) {
    if (pidFd < 0 || wakeFd < 0) {
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
            if (errno != EINTR) {
                return false;
            }
        }
        return true;
    }
    pollfd fds[2] = {{pidFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    while (true) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || (fds[1].revents & POLLIN) != 0) {
            return false;
        }
        if (fds[0].revents != 0) {
            return true;
        }
    }
}

} // namespace

Result<std::shared_ptr<ChildProcess>> ChildProcess::spawn(Options options) {
    auto spawned =
        spawnProcess(options.executable, options.arguments, options.outputFd, options.environment);
    if (!spawned) {
        return spawned.error();
    }
    const pid_t pid = *spawned;
    auto state = std::make_shared<State>();
    state->pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    state->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    auto process = std::make_shared<ChildProcess>(Key{}, pid, state);
    // The watcher borrows the state: its owner joins it before letting the state go.
    state->watcher = std::thread([pid, raw = state.get(), onExit = std::move(options.onExit)] {
        // Noticed without reaping first, so the pid cannot be reused while `running` is still
        // true and terminate() might signal it.
        if (!waitForExit(pid, raw->pidFd, raw->wakeFd)) {
            return;
        }
        {
            std::lock_guard lock(raw->mutex);
            raw->running = false;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        raw->exited.notify_all();
        // Last. The callback may hand the ChildProcess on, but never release its last reference.
        if (onExit) {
            onExit(pid, status);
        }
    });
    return process;
}

bool ChildProcess::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

void ChildProcess::terminate() {
    std::lock_guard lock(state_->mutex);
    if (state_->running) {
        ::kill(pid_, SIGTERM);
    }
}

void ChildProcess::waitUntilExit() {
    std::unique_lock lock(state_->mutex);
    state_->exited.wait(lock, [this] { return !state_->running; });
}

Result<int> runAndWait(const std::string& executable, const std::vector<std::string>& arguments) {
    auto spawned = spawnProcess(executable, arguments, -1);
    if (!spawned) {
        return spawned.error();
    }
    int status = 0;
    while (::waitpid(*spawned, &status, 0) < 0) {
        if (errno != EINTR) {
            return Error{Error::Kind::processNotStarted, std::strerror(errno)};
        }
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace vozmo
