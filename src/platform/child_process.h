#pragma once

#include "error.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace vozmo {

// A child process started from an executable path and an argument vector (never a shell).
// Its exit is noticed on a thread it owns; destroying it ends that watch (without waiting for the
// child) and joins the thread. So the last reference must never be released on that thread (in
// `onExit`): an owner that lets go of an ended process there keeps it until it goes itself.
class ChildProcess {
public:
    struct Options {
        std::string executable;
        std::vector<std::string> arguments; // without argv[0]
        int outputFd = -1;                  // standard output and error go here; -1 inherits ours
        // Added to our environment, replacing a variable of the same name. A secret given here
        // stays out of the process list, which shows every user the arguments.
        std::vector<std::pair<std::string, std::string>> environment;
        // On the watcher thread; releasing the last reference there aborts.
        std::function<void(pid_t pid, int waitStatus)> onExit;
    };

    // Starts the process (never null), or says why it could not (processNotStarted).
    static Result<std::shared_ptr<ChildProcess>> spawn(Options options);

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool isRunning() const;
    // Sends SIGTERM if it still runs; never waits.
    void terminate();
    // Blocks until the exit has been noticed.
    void waitUntilExit();

    struct State;
    class Key { // only spawn() can construct
        Key() = default;
        friend class ChildProcess;
    };
    ChildProcess(Key, pid_t pid, std::shared_ptr<State> state);

private:
    pid_t pid_;
    std::shared_ptr<State> state_;
};

// Runs a program to its end: its exit status (128 + the signal that ended it), or
// processNotStarted.
Result<int> runAndWait(const std::string& executable, const std::vector<std::string>& arguments);

} // namespace vozmo
