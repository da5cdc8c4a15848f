#pragma once

#include "wait.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

namespace vozmo::test {

// Runs a program (no shell) to its end; answers its exit status, -1 when it did not finish in
// time (it is killed then). Output goes to `output` when given.
// Not through QProcess: Qt starts a child with vfork semantics, and the child's calls then pass
// through ThreadSanitizer's runtime in this process's memory, so it loses what it knew of our
// locks and reports races between threads that both held the same mutex. posix_spawn's child
// runs only inside the C library.
inline int run(const std::vector<std::string>& argv, std::string* output = nullptr,
               int seconds = 60) {
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (auto& arg : copies) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string collected;
    int status = 0;
    bool exited = false;
    bool timedOut = false;
    // Read until the program has ended, not until the pipe closes: something it started in the
    // background may hold the pipe open far longer.
    while (!exited) {
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (::poll(&ready, 1, 50) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n > 0) {
                collected.append(buffer, static_cast<std::size_t>(n));
            }
        }
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            exited = timedOut = true;
        }
    }
    // What the program wrote just before it ended.
    pollfd ready{pipeFds[0], POLLIN, 0};
    while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        collected.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    if (output != nullptr) {
        *output = std::move(collected);
    }
    if (timedOut || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Turns the Qt event loop until `done` holds or the (generous) deadline passes.
inline bool waitFor(const std::function<bool()>& done, double seconds = 20.0) {
    return waitUntil(done, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
}

} // namespace vozmo::test
