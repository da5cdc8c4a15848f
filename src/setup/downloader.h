#pragma once

#include "config.h"
#include "error.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vozmo {

// Fetches the model files that are missing, one after the other, in list order, on a worker
// thread. Each body is streamed into a temporary file in the models folder and renamed into
// place only once complete, so a partial file never sits under a model's name. Both callbacks
// are delivered on the main thread, and never after the Downloader is gone. Main thread only.
class Downloader {
public:
    // The model files of the user's model choice, as it is at each start().
    Downloader();
    // A fixed list of model files (tests point these at a local server).
    explicit Downloader(std::vector<ModelSpec> specs);
    // The list `specs` gives at each start().
    explicit Downloader(std::function<std::vector<ModelSpec>()> specs);
    // Cancels a run in progress and waits for its worker; no callback follows.
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Fraction of the file being fetched (0..1) and a status text such as
    // "IA de pulido (2/2): 1520 de 2497 MB".
    std::function<void(double fraction, const std::string& text)> onProgress;
    // Once per run: done when every file of the run arrived at full size (or none was missing),
    // downloadFailed (detail: the file's name and why) at the first failure; the files after it
    // are not tried.
    std::function<void(const Outcome& outcome)> onFinish;

    // Begins a run over the files missing now. With nothing missing, onFinish is called with success
    // before start() returns. A start() while a run is still going is ignored: that run's
    // onFinish answers it.
    void start();
    bool running() const { return running_; }
    // The model files this Downloader looks after, now.
    std::vector<ModelSpec> specs() const;

private:
    struct Shared; // what the worker and the main-thread deliveries share
    void runWorker(std::vector<ModelSpec> queue);
    Outcome fetch(const ModelSpec& spec, int index, int total);
    void reportProgress(double fraction, std::string text, bool bytes);
    void reportFinish(Outcome outcome);

    std::function<std::vector<ModelSpec>()> specs_;
    std::shared_ptr<Shared> shared_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    std::thread worker_;
};

} // namespace vozmo
