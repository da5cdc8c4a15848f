#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vozmo {

class PolishSpeed;

// Owns the two local inference servers: finds them, sweeps leftovers, launches them with their
// logs, probes them until ready, warms the language model up, restarts crashed servers (at most
// three times) and stops them on shutdown.
class Servers {
public:
    Servers();
    // Does not stop the processes; the owner calls stop(). Pending probes, restarts and exit
    // handlers do nothing once the supervisor is gone.
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

    void start();
    void killOrphans();
    void stop();
    // After start(): launches again every running server whose model file was replaced since
    // its launch, and launches one whose model has only now arrived. Main thread.
    void reloadChangedModels();

    // The language model's measured speed, its warm-up and the speech server's activity.
    std::shared_ptr<PolishSpeed> polishSpeed() const;

    // Called on the main thread after every readiness update.
    void setOnChange(std::function<void()> onChange);

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

} // namespace vozmo
