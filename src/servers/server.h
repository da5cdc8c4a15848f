#pragma once

#include "child_process.h"
#include "error.h"
#include "server_command.h"
#include "server_role.h"
#include "server_wait.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vozmo {

// One inference server: its process, its restarts, the model file it was launched with, its
// log, and where it stands. Owned by the supervisor, which releases it before letting it go.
//
//   notLaunched ─┬─> missing (program or model absent) ──> launching
//                ├─> portBusy (another program listens) ──> launching, once the port is free
//                └─> launching ─┬─> ready ─┬─> reloading (new model file) ─> launching
//                               │          └─> restarting (crashed) ─> launching
//                               ├─> portBusy (another program took the port meanwhile)
//                               └─> gaveUp (no start, never ready, or crashed too often)
//
// A stop() freezes the state the owner sees: exits after it change nothing.
class Server : public std::enable_shared_from_this<Server> {
public:
    enum class State {
        notLaunched,
        missing,
        portBusy,
        launching,
        ready,
        restarting,
        reloading,
        gaveUp,
    };

    struct Hooks {
        // Any thread, no lock held: after every change the owner should see.
        std::function<void()> changed;
        // On the probe's thread once the server is ready; returns early on a stop request.
        std::function<void(std::stop_token)> ready;
    };

    Server(const ServerRole& role, Hooks hooks, std::chrono::milliseconds readinessLimit);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    const ServerRole& role() const { return role_; }
    State state() const;
    bool ready() const { return state() == State::ready; }
    // A process of ours runs, or is about to be launched again.
    bool launched() const;
    // Its program and model are present. Contacts no server.
    bool available() const;
    // Empty for a server without a key option.
    const std::string& apiKey() const { return apiKey_; }
    // The process listening on its port is the one launched here, and it is ready.
    bool answersAreOurs() const;

    // Launches it when no process of ours runs and its program, model and port are there.
    void start();
    // Launches it again when its model file was replaced since the launch.
    void reloadIfModelChanged();
    // Ends its process and stops its threads at their next step; nothing is launched after.
    void stop();
    ServerWait waitUntilReady(std::stop_token stop, std::chrono::milliseconds limit);
    std::shared_ptr<ChildProcess> process() const;

    // Stops and joins its probe, restart pause and warm-up; none starts after this.
    void endThreads();
    // From now on an exit callback touches nothing (the whole process is ending).
    void close();
    // endThreads(), then lets go of its processes, joining their exit watchers. Called by the
    // owner before the last reference goes, so that never happens on a watcher's thread.
    void release();

private:
    // Everything a restart needs to repeat a launch exactly.
    struct LaunchSpec {
        std::string executable;
        std::vector<std::string> arguments;
    };
    std::optional<LaunchSpec> launchSpec() const;
    void launch(const LaunchSpec& spec);
    void probe(std::stop_token stop, std::weak_ptr<ChildProcess> process);
    void exited(pid_t pid);
    void restartAfterPause(std::stop_token stop);
    // Called with lock_ held; true when the state is new.
    bool enterPortBusy();
    void giveUp(const std::string& why, const std::shared_ptr<ChildProcess>& process);
    void notify();
    template <typename Work> void spawnThread(Work work);

    const ServerRole& role_;
    const Hooks hooks_;
    const std::chrono::milliseconds readinessLimit_;
    const std::string apiKey_;

    mutable std::mutex lock_;
    std::condition_variable_any changed_;
    State state_ = State::notLaunched;
    bool stopping_ = false;
    std::shared_ptr<ChildProcess> process_;
    // Ended processes, kept until release(): their exit callback must not release them, as the
    // thread that watched them cannot join itself.
    std::vector<std::shared_ptr<ChildProcess>> ended_;
    int crashes_ = 0;
    FileStamp model_; // the model file of the running process
    std::optional<LaunchSpec> lastLaunch_;

    std::mutex threadsLock_;
    std::vector<std::jthread> threads_;
    bool threadsEnded_ = false;

    // Held by an exit callback from start to end. Once closed, a callback touches nothing: exit()
    // goes on to destroy the static objects, the paths and the log among them, that it would use.
    std::mutex callbacks_;
    bool closed_ = false;
};

} // namespace vozmo
