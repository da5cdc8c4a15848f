#pragma once

#include "error.h"
#include "server_wait.h"

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace vozmo {

class PolishSpeed;

// Owns the two local inference servers: finds them, sweeps what a dead run of this user left,
// launches them with their logs, probes them until ready (and checks the answering socket is
// really theirs), warms the language model up, restarts crashed servers (at most three times),
// gives up on one that does not become ready in time, and stops them on shutdown.
class Servers {
public:
    struct Limits {
        // A launched server that has not answered its probe by then is given up.
        std::chrono::milliseconds readiness;
    };
    Servers();
    explicit Servers(Limits limits);
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
    // The speech server will not come up in this run: its start failed, it was not ready in
    // time, or it crashed more often than it is restarted.
    bool whisperGaveUp() const;
    bool llmGaveUp() const;
    // A process of ours runs (or is about to be restarted).
    bool whisperLaunched() const;
    // Another program listens on the server's port; nothing is sent there.
    bool whisperPortBusy() const;
    bool llmPortBusy() const;
    // The first of the servers' ports that another program holds (the speech server's first):
    // speechServerPortBusy or polishServerPortBusy, the port as detail.
    Outcome portsFree() const;
    // What keeps a server from working that the user must see to: portsFree()'s answer, then a
    // server given up (speechServerGaveUp or polishServerGaveUp).
    Outcome problem() const;
    // The process listening on the speech server's port is the one launched here. whisper-server
    // takes no key, so every transcription is checked before it is sent and once it is answered.
    bool whisperIsOurs() const;
    // The key of this run that every request to llama-server must carry (Authorization: Bearer).
    std::string llmApiKey() const;
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

    using Wait = ServerWait;
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
