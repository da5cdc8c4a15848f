#pragma once

#include "config.h"
#include "error.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vozmo {

inline constexpr const char* kNotTheExpectedFile = "El archivo descargado no es el esperado";

// Where the body of `dest` collects until it is complete: "whisper.bin.parcial".
std::filesystem::path partialPath(const std::filesystem::path& dest);

// Fetches the model files that are missing, one after the other, in list order, on a worker
// thread, over HTTPS only. Each body is streamed into "<name>.parcial" beside the model while its
// SHA-256 is computed, and renamed into place only when size and hash are the catalogue's, so a
// partial or foreign file never sits under a model's name. An interrupted transfer (a broken
// connection, a cancel, Vozmo closed or killed) is continued later with a range request. Both
// callbacks are delivered on the main thread, and never after the Downloader is gone. Main
// thread only.
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
    // are not tried. A body whose hash is not the catalogue's is deleted, and the detail ends in
    // kNotTheExpectedFile.
    std::function<void(const Outcome& outcome)> onFinish;

    // A PEM file of the certificates to trust instead of the system's (a private server).
    std::string trustedCertificates;

    // Begins a run over the files missing now; files in place whose hash was never taken
    // (copied in by hand, or downloaded by an older version) are read first, with progress. With
    // nothing to do, onFinish is called with success before start() returns. A start() while a run
    // is still going is ignored: that run's onFinish answers it.
    void start();
    bool running() const { return running_; }
    // The model files this Downloader looks after, now.
    std::vector<ModelSpec> specs() const;

private:
    struct Shared; // what the worker and the main-thread deliveries share
    void runWorker(std::vector<ModelSpec> check, std::vector<ModelSpec> queue);
    // Reads a file in place once, records its hash, and records it as the catalogue's file when
    // the hash is the catalogue's; another file is left in place and used.
    void checkCopied(const ModelSpec& spec);
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
