#pragma once

#include "error.h"

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace vozmo {

class PolishSpeed;

// Owns the two local inference servers: finds them, sweeps what a dead run of this user left,
// launches them with their logs, probes them until ready (and checks the answering socket is
// really theirs), warms the language model up, restarts crashed servers (at most three times)
// and stops them on shutdown.
class Servers {
public:
    Servers();
    // Does not stop the processes; the owner calls stop(). Cancels and joins the probes, restart
    // pauses and the warm-up, so nothing of the supervisor runs once it is gone.
    ~Servers();
    Servers(const Servers&) = delete;
    Servers& operator=(const Servers&) = delete;

    // The executable is found and its model file exists. Contacts no server.
    bool whisperAvailable() const;
    bool llmAvailable() const;
    bool whisperReady() const;
    bool llmReady() const;
    // The speech server will not come up in this run: its start failed or it crashed more
    // often than it is restarted.
    bool whisperGaveUp() const;
    // A process of ours runs (or is about to be restarted).
    bool whisperLaunched() const;
    // Another program listens on the server's port; nothing is sent there.
    bool whisperPortBusy() const;
    bool llmPortBusy() const;
    // The first of the servers' ports that another program holds (the speech server's first):
    // speechServerPortBusy or polishServerPortBusy, the port as detail.
    Outcome portsFree() const;
    // Servers launched by another Vozmo of this user that is running now.
    bool inUseByAnotherRun() const;

    // Launches each server whose program and model are present and that is not running yet;
    // called again whenever one of them may have appeared. The first call sweeps leftovers.
    void start();
    // Ends the servers that a Vozmo of this user launched and that outlived it; never touches
    // any other process.
    void killOrphans();
    void stop();
    // stop() on every supervisor alive and the end of its threads, then waits up to `limit` for
    // their processes to end. For an ending that cannot wait for the owners (the X server gone,
    // exit()); no supervisor starts anything afterwards.
    static void stopAll(std::chrono::milliseconds limit);
    // After start(): launches again every running server whose model file was replaced since
    // its launch, and launches one whose model has only now arrived. Main thread.
    void reloadChangedModels();

    // The language model's measured speed, its warm-up and the speech server's activity.
    std::shared_ptr<PolishSpeed> polishSpeed() const;

    enum class Wait { ready, notLaunched, portBusy, gaveUp, stopped, timedOut };
    // Blocks until the speech server is ready or cannot become so; answers at once when it is
    // not even launched. Background threads only.
    Wait waitForWhisper(std::stop_token stop, std::chrono::milliseconds limit);

    // Called on the main thread after every readiness update.
    void setOnChange(std::function<void()> onChange);

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

} // namespace vozmo
