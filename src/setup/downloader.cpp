#include "downloader.h"

#include "curl_handle.h"
#include "log.h"
#include "main_thread.h"
#include "model_catalog.h"
#include "model_files.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

namespace vozmo {

struct Downloader::Shared {
    // Touched on the main thread only; cleared by the destructor so late deliveries do nothing.
    Downloader* owner = nullptr;
    // Reports handed from the worker to the main thread, one queued delivery each. A byte count
    // replaces a byte count still waiting, so a fast transfer cannot flood the main thread,
    // while the start of each file is always shown and the order is kept.
    struct Report {
        double fraction = 0;
        std::string text;
        bool bytes = false;
    };
    std::mutex mutex;
    std::deque<Report> reports;
};

namespace {

std::string countText(const ModelSpec& spec, int index, int total) {
    return spec.name + " (" + std::to_string(index) + "/" + std::to_string(total) + ")";
}

// The temporary files of a model are hidden siblings: ".whisper.bin.part-XXXXXX".
std::string partPrefix(const ModelSpec& spec) {
    return "." + spec.dest.filename().string() + ".part-";
}

// Partial bodies left by a run that was killed would otherwise hold gigabytes for ever.
void removeStalePartials(const ModelSpec& spec) {
    std::error_code ec;
    std::filesystem::directory_iterator it(spec.dest.parent_path(), ec);
    const std::string prefix = partPrefix(spec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

struct Transfer {
    const std::atomic<bool>* cancel = nullptr;
    int fd = -1;
    int writeError = 0; // errno of a failed write, 0 while all is well
    curl_off_t lastNow = -1;
    curl_off_t lastTotal = -1;
    std::function<void(curl_off_t now, curl_off_t total)> progress;
};

size_t writeBody(char* data, size_t size, size_t count, void* target) {
    auto* transfer = static_cast<Transfer*>(target);
    size_t length = size * count;
    if (transfer->cancel->load()) {
        return 0;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(transfer->fd, data + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            transfer->writeError = n < 0 ? errno : ENOSPC;
            return 0; // curl then ends the transfer with a write error
        }
        done += static_cast<size_t>(n);
    }
    return length;
}

int transferInfo(void* target, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(target);
    if (transfer->cancel->load()) {
        return 1; // aborts the transfer
    }
    // curl also calls this while nothing moves; report only when the figures change, and not
    // at all without a length.
    if (dltotal >= 1 && (dlnow != transfer->lastNow || dltotal != transfer->lastTotal)) {
        transfer->lastNow = dlnow;
        transfer->lastTotal = dltotal;
        transfer->progress(dlnow, dltotal);
    }
    return 0;
}

std::string curlDescription(CURLcode code, const char* detail) {
    std::string text = detail[0] != '\0' ? detail : curl_easy_strerror(code);
    return text + " (curl " + std::to_string(static_cast<int>(code)) + ")";
}

} // namespace

Downloader::Downloader() : shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
}

Downloader::Downloader(std::vector<ModelSpec> specs) : Downloader() {
    specs_ = [fixed = std::move(specs)] { return fixed; };
}

Downloader::Downloader(std::function<std::vector<ModelSpec>()> specs) : Downloader() {
    specs_ = std::move(specs);
}

Downloader::~Downloader() {
    shared_->owner = nullptr;
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::vector<ModelSpec> Downloader::specs() const {
    return specs_ ? specs_() : chosenModelSpecs();
}

void Downloader::start() {
    if (running_) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join(); // the previous run's worker has already posted its end
    }
    ensureSupport();
    std::vector<ModelSpec> queue;
    for (const auto& spec : specs()) {
        if (!modelInstalled(spec)) {
            queue.push_back(spec);
        }
    }
    if (queue.empty()) {
        if (auto finish = onFinish) {
            finish(Done{});
        }
        return;
    }
    for (const auto& spec : queue) {
        removeStalePartials(spec);
    }
    running_ = true;
    cancel_ = false;
    worker_ =
        std::thread([this, queue = std::move(queue)]() mutable { runWorker(std::move(queue)); });
}

void Downloader::runWorker(std::vector<ModelSpec> queue) {
    const int total = static_cast<int>(queue.size());
    Outcome outcome = Done{};
    for (int i = 0; i < total && outcome; ++i) {
        outcome = fetch(queue[static_cast<size_t>(i)], i + 1, total);
    }
    if (!cancel_) {
        reportFinish(std::move(outcome));
    }
}

Outcome Downloader::fetch(const ModelSpec& spec, int index, int total) {
    // Logged here, in the words the log has always had; the error carries the same reason.
    const auto failed = [&spec](const std::string& why) {
        log("Descarga de " + spec.name + " falló: " + why);
        return Error{Error::Kind::downloadFailed, spec.name + ": " + why};
    };
    const std::string count = countText(spec, index, total);
    reportProgress(0.0, count + "…", false);

    std::error_code ec;
    std::filesystem::create_directories(spec.dest.parent_path(), ec);
    std::string tmpl = (spec.dest.parent_path() / (partPrefix(spec) + "XXXXXX")).string();
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        return failed("no se pudo crear un archivo en " + spec.dest.parent_path().string() + ": " +
                      std::strerror(errno));
    }
    const std::filesystem::path partial = tmpl;

    CurlEasy curl = newCurlEasy();
    Transfer transfer;
    transfer.cancel = &cancel_;
    transfer.fd = fd;
    transfer.progress = [this, &count](curl_off_t now, curl_off_t expected) {
        reportProgress(static_cast<double>(now) / static_cast<double>(expected),
                       count + ": " + std::to_string(now / 1000000) + " de " +
                           std::to_string(expected / 1000000) + " MB",
                       true);
    };
    char detail[CURL_ERROR_SIZE] = {};
    CURLcode code = CURLE_FAILED_INIT;
    if (curl) {
        CURL* h = curl.get();
        curl_easy_setopt(h, CURLOPT_URL, spec.url.c_str());
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L); // model hosts redirect to their CDN
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 30L);
        // No limit on the whole transfer (gigabytes on a slow line), but a stalled one fails.
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
        curl_easy_setopt(h, CURLOPT_USERAGENT, "Vozmo");
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, transferInfo);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        code = curl_easy_perform(h);
    }
    bool written = code == CURLE_OK && ::fsync(fd) == 0;
    int syncError = errno;
    ::close(fd);

    if (cancel_) {
        std::filesystem::remove(partial, ec);
        return Error{Error::Kind::cancelled, spec.name};
    }
    if (code != CURLE_OK) {
        std::string description = transfer.writeError != 0
                                      ? std::string("no se pudo escribir en el disco: ") +
                                            std::strerror(transfer.writeError)
                                      : curlDescription(code, detail);
        // The partial body goes first: on a full disk it holds the room the message needs.
        std::filesystem::remove(partial, ec);
        return failed(description);
    }
    if (!written) {
        std::filesystem::remove(partial, ec);
        return failed(std::strerror(syncError));
    }
    // The old file's origin goes first: should we stop between the two steps, an unrecorded
    // file is taken for what it is, never for the model it replaced.
    recordModelSource(spec.dest, "");
    // rename replaces an older file in one step: the model's name never holds a partial body.
    std::filesystem::rename(partial, spec.dest, ec);
    if (ec) {
        log("No se pudo mover " + spec.name + ": " + ec.message());
        std::filesystem::remove(partial, ec);
    }
    if (fileSize(spec.dest) >= spec.minBytes) {
        recordModelSource(spec.dest, spec.url);
        return Done{};
    }
    log("Descarga de " + spec.name + " incompleta");
    std::filesystem::remove(spec.dest, ec);
    return Error{Error::Kind::downloadFailed, spec.name + ": incompleta"};
}

void Downloader::reportProgress(double fraction, std::string text, bool bytes) {
    {
        std::lock_guard lock(shared_->mutex);
        auto& reports = shared_->reports;
        if (bytes && !reports.empty() && reports.back().bytes) {
            reports.back() = {fraction, std::move(text), bytes};
            return; // its delivery is already queued
        }
        reports.push_back({fraction, std::move(text), bytes});
    }
    postToMain([weak = std::weak_ptr<Shared>(shared_)] {
        auto shared = weak.lock();
        if (!shared || shared->owner == nullptr) {
            return;
        }
        Shared::Report report;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->reports.empty()) {
                return;
            }
            report = std::move(shared->reports.front());
            shared->reports.pop_front();
        }
        if (auto progress = shared->owner->onProgress) {
            progress(report.fraction, report.text);
        }
    });
}

void Downloader::reportFinish(Outcome outcome) {
    postToMain([weak = std::weak_ptr<Shared>(shared_), outcome = std::move(outcome)] {
        auto shared = weak.lock();
        if (!shared || shared->owner == nullptr) {
            return;
        }
        Downloader* self = shared->owner;
        if (self->worker_.joinable()) {
            self->worker_.join(); // this post was the worker's last act
        }
        self->running_ = false;
        if (auto finish = self->onFinish) {
            finish(outcome);
        }
    });
}

} // namespace vozmo
