#include "child_process.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vozmo {

struct ChildProcess::State {
    std::mutex mutex;
    std::condition_variable exited;
    bool running = true;
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

pid_t spawnProcess(const std::string& executable, std::vector<std::string> arguments, int outputFd,
                   std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    }
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
    pid_t pid = -1;
    int rc = posix_spawn(&pid, executable.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = std::strerror(rc);
        return -1;
    }
    return pid;
}

} // namespace

ChildProcess::ChildProcess(Key, pid_t pid, std::shared_ptr<State> state)
    : pid_(pid), state_(std::move(state)) {}

ChildProcess::~ChildProcess() = default;

std::shared_ptr<ChildProcess> ChildProcess::spawn(Options options, std::string& error) {
    pid_t pid = spawnProcess(options.executable, options.arguments, options.outputFd, error);
    if (pid < 0) {
        return nullptr;
    }
    auto state = std::make_shared<State>();
    std::thread([pid, state, onExit = std::move(options.onExit)] {
        // Wait without reaping first, so the pid cannot be reused while `running` is still
        // true and terminate() might signal it.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        {
            std::lock_guard lock(state->mutex);
            state->running = false;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        state->exited.notify_all();
        if (onExit) {
            onExit(pid, status);
        }
    }).detach();
    return std::make_shared<ChildProcess>(Key{}, pid, std::move(state));
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

int runAndWait(const std::string& executable, const std::vector<std::string>& arguments) {
    std::string error;
    pid_t pid = spawnProcess(executable, arguments, -1, error);
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace vozmo
