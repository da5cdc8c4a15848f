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

std::filesystem::path partialPath(const std::filesystem::path& dest) {
    return dest.parent_path() / (dest.filename().string() + ".parcial");
}

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

// Earlier versions kept one hidden temporary file per attempt: ".whisper.bin.part-XXXXXX".
// Left by a run that was killed, they would hold gigabytes for ever.
void removeOldTemporaries(const ModelSpec& spec) {
    std::error_code ec;
    std::filesystem::directory_iterator it(spec.dest.parent_path(), ec);
    const std::string prefix = "." + spec.dest.filename().string() + ".part-";
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

std::string megabytes(std::int64_t bytes) {
    return std::to_string(bytes / 1000000);
}

struct Transfer {
    const std::atomic<bool>* cancel = nullptr;
    CURL* handle = nullptr;
    int fd = -1;
    Sha256* sum = nullptr;
    std::int64_t offset = 0;  // bytes already in the partial file when the request began
    std::int64_t written = 0; // bytes of this answer written after them
    bool statusChecked = false;
    bool rangeIgnored = false; // asked to continue, the server began the whole file instead
    int writeError = 0;        // errno of a failed write, 0 while all is well
    curl_off_t lastNow = -1;
    curl_off_t lastTotal = -1;
    std::function<void(std::int64_t now, std::int64_t total)> progress;
};

size_t writeBody(char* data, size_t size, size_t count, void* target) {
    auto* transfer = static_cast<Transfer*>(target);
    size_t length = size * count;
    if (transfer->cancel->load()) {
        return 0;
    }
    if (!transfer->statusChecked) {
        transfer->statusChecked = true;
        long status = 0;
        curl_easy_getinfo(transfer->handle, CURLINFO_RESPONSE_CODE, &status);
        // Appended to what is there, a whole body would make a file that is neither.
        if (transfer->offset > 0 && status != 206) {
            transfer->rangeIgnored = true;
            return 0;
        }
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
    transfer->sum->add(data, length);
    transfer->written += static_cast<std::int64_t>(length);
    return length;
}

int transferInfo(void* target, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(target);
    if (transfer->cancel->load()) {
        return 1; // aborts the transfer
    }
    // curl also calls this while nothing moves; report only when the figures change, and not
    // at all without a length. A continued transfer counts what was there before.
    if (dltotal >= 1 && (dlnow != transfer->lastNow || dltotal != transfer->lastTotal)) {
        transfer->lastNow = dlnow;
        transfer->lastTotal = dltotal;
        transfer->progress(transfer->offset + dlnow, transfer->offset + dltotal);
    }
    return 0;
}

// One request for the rest of the file, from transfer.offset on.
CURLcode runTransfer(const std::string& url, Transfer& transfer, const std::string& trusted,
                     char* detail, long& status) {
    CurlEasy curl = newCurlEasy();
    if (!curl) {
        return CURLE_FAILED_INIT;
    }
    CURL* h = curl.get();
    transfer.handle = h;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L); // model hosts redirect to their CDN
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // HTTPS from the first request to the last redirect: a file that travelled in the clear
    // could have been changed on the way, and its name would say nothing.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    // An error page is never written into the file.
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
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
    if (transfer.offset > 0) {
        curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(transfer.offset));
    }
    if (!trusted.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, trusted.c_str());
    }
    detail[0] = '\0';
    CURLcode code = curl_easy_perform(h);
    status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return code;
}

std::string curlDescription(CURLcode code, const char* detail) {
    std::string text = detail[0] != '\0' ? detail : curl_easy_strerror(code);
    if (code == CURLE_UNSUPPORTED_PROTOCOL) {
        text = "solo se descarga por HTTPS y la dirección llevó a otra cosa: " + text;
    }
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
    std::vector<ModelSpec> check;
    std::vector<ModelSpec> queue;
    for (const auto& spec : specs()) {
        if (!modelInstalled(spec)) {
            queue.push_back(spec);
        } else if (modelNeedsHashing(spec)) {
            check.push_back(spec); // copied in by hand, or from an older version: never read
        }
    }
    if (queue.empty() && check.empty()) {
        if (auto finish = onFinish) {
            finish(Done{});
        }
        return;
    }
    for (const auto& spec : queue) {
        removeOldTemporaries(spec);
    }
    running_ = true;
    cancel_ = false;
    worker_ = std::thread([this, check = std::move(check), queue = std::move(queue)]() mutable {
        runWorker(std::move(check), std::move(queue));
    });
}

void Downloader::runWorker(std::vector<ModelSpec> check, std::vector<ModelSpec> queue) {
    for (const auto& spec : check) {
        if (!cancel_) {
            checkCopied(spec);
        }
    }
    const int total = static_cast<int>(queue.size());
    Outcome outcome = Done{};
    for (int i = 0; i < total && outcome && !cancel_; ++i) {
        outcome = fetch(queue[static_cast<size_t>(i)], i + 1, total);
    }
    if (!cancel_) {
        reportFinish(std::move(outcome));
    }
}

void Downloader::checkCopied(const ModelSpec& spec) {
    const std::int64_t size = fileSize(spec.dest);
    const std::string text = spec.name + ": comprobando el archivo";
    reportProgress(0.0, text + "…", false);
    Sha256 sum;
    const bool read = addFileToSum(sum, spec.dest, size, cancel_, [&](std::int64_t done) {
        reportProgress(static_cast<double>(done) / static_cast<double>(size), text, true);
    });
    if (!read) {
        return; // cancelled, or changed under us: looked at again next time
    }
    const std::string hash = sum.hex();
    recordSha256(spec.dest, hash);
    if (hash == spec.sha256) {
        recordModelSource(spec.dest, spec.url); // it is the catalogue's file
        log("El archivo de " + spec.name + " es el esperado");
    } else {
        log("El archivo de " + spec.name + " no es el del catálogo (SHA-256 " + hash +
            "); se usa igualmente");
    }
}

Outcome Downloader::fetch(const ModelSpec& spec, int index, int total) {
    // Logged here, in the words the log has always had; the error carries the same reason.
    const auto failed = [&spec](const std::string& why) {
        log("Descarga de " + spec.name + " falló: " + why);
        return Error{Error::Kind::downloadFailed, spec.name + ": " + why};
    };
    const auto incomplete = [&spec] {
        log("Descarga de " + spec.name + " incompleta");
        return Error{Error::Kind::downloadFailed, spec.name + ": incompleta"};
    };
    const std::string count = countText(spec, index, total);
    reportProgress(0.0, count + "…", false);

    std::error_code ec;
    std::filesystem::create_directories(spec.dest.parent_path(), ec);
    const std::filesystem::path partial = partialPath(spec.dest);
    const auto forgetPartial = [&partial] {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        recordModelSource(partial, "");
    };

    // What an earlier attempt left is continued only when it is the beginning of this same file
    // (the two versions of a model share its name).
    std::int64_t offset = fileSize(partial);
    if (offset > 0) {
        const auto source = modelSource(partial);
        if (!source || *source != spec.url || (spec.bytes > 0 && offset > spec.bytes)) {
            forgetPartial();
            offset = 0;
        }
    }
    auto sum = std::make_unique<Sha256>();
    if (offset > 0) {
        // The hash state is not kept between runs: what is there is read once more instead.
        const double whole = static_cast<double>(spec.bytes > 0 ? spec.bytes : offset);
        const std::string text = count + ": comprobando lo ya descargado";
        const bool read = addFileToSum(*sum, partial, offset, cancel_, [&](std::int64_t done) {
            reportProgress(static_cast<double>(done) / whole, text, true);
        });
        if (cancel_) {
            return Error{Error::Kind::cancelled, spec.name};
        }
        if (read) {
            log("Descarga de " + spec.name + ": se continúa desde " + megabytes(offset) + " MB");
        } else {
            forgetPartial();
            offset = 0;
            sum = std::make_unique<Sha256>();
        }
    }
    recordModelSource(partial, spec.url);
    int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return failed("no se pudo crear " + partial.string() + ": " + std::strerror(errno));
    }
    // Anything past what was hashed goes; the next byte is written right after it.
    if (::ftruncate(fd, offset) != 0 || ::lseek(fd, offset, SEEK_SET) < 0) {
        const int error = errno;
        ::close(fd);
        forgetPartial();
        return failed(std::string("no se pudo escribir en el disco: ") + std::strerror(error));
    }

    Transfer transfer;
    const auto restart = [&](std::int64_t from) {
        transfer = Transfer{};
        transfer.cancel = &cancel_;
        transfer.fd = fd;
        transfer.sum = sum.get();
        transfer.offset = from;
        transfer.progress = [this, &count](std::int64_t now, std::int64_t expected) {
            reportProgress(static_cast<double>(now) / static_cast<double>(expected),
                           count + ": " + megabytes(now) + " de " + megabytes(expected) + " MB",
                           true);
        };
    };
    restart(offset);
    char detail[CURL_ERROR_SIZE] = {};
    CURLcode code = CURLE_OK;
    long status = 0;
    // A partial file of the full size was complete already: only its hash is left to check.
    if (spec.bytes == 0 || offset < spec.bytes) {
        code = runTransfer(spec.url, transfer, trustedCertificates, detail, status);
        if ((transfer.rangeIgnored || code == CURLE_RANGE_ERROR) && offset > 0 && !cancel_) {
            // The server cannot continue a transfer: the whole file once more.
            log("Descarga de " + spec.name +
                ": el servidor no continúa descargas; empieza de cero");
            offset = 0;
            sum = std::make_unique<Sha256>();
            if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
                const int error = errno;
                ::close(fd);
                forgetPartial();
                return failed(std::string("no se pudo escribir en el disco: ") +
                              std::strerror(error));
            }
            restart(0);
            code = runTransfer(spec.url, transfer, trustedCertificates, detail, status);
        }
    }
    const std::int64_t got = offset + transfer.written;
    const bool written = code == CURLE_OK && ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);

    if (cancel_) {
        return Error{Error::Kind::cancelled, spec.name}; // the next run continues from here
    }
    if (code != CURLE_OK) {
        if (transfer.writeError != 0) {
            // The partial body goes first: on a full disk it holds the room the message needs.
            forgetPartial();
            return failed(std::string("no se pudo escribir en el disco: ") +
                          std::strerror(transfer.writeError));
        }
        if (status == 416 || got == 0) {
            forgetPartial(); // no such range to continue from, or nothing to keep
        }
        return failed(curlDescription(code, detail)); // the next run continues from here
    }
    if (!written) {
        forgetPartial();
        return failed(std::strerror(syncError));
    }
    if (spec.bytes > 0 && got < spec.bytes) {
        return incomplete(); // ended early without a length to tell; continued next time
    }
    const std::string hash = sum->hex();
    if ((spec.bytes > 0 && got != spec.bytes) || (!spec.sha256.empty() && hash != spec.sha256)) {
        forgetPartial();
        log("Descarga de " + spec.name + " falló: " + kNotTheExpectedFile + " (" +
            std::to_string(got) + " bytes, SHA-256 " + hash + ")");
        return Error{Error::Kind::downloadFailed, spec.name + ": " + kNotTheExpectedFile};
    }
    if (got < spec.minBytes) {
        forgetPartial();
        return incomplete();
    }
    if (spec.sha256.empty()) {
        log("Descarga de " + spec.name + " sin comprobar: el catálogo no tiene su SHA-256");
    }
    // The old file's origin goes first: should we stop between the two steps, an unrecorded
    // file is taken for what it is, never for the model it replaced.
    recordModelSource(spec.dest, "");
    // rename replaces an older file in one step: the model's name never holds a partial body.
    std::filesystem::rename(partial, spec.dest, ec);
    if (ec) {
        log("No se pudo mover " + spec.name + ": " + ec.message());
        return incomplete(); // still complete and checked beside it: the next run moves it
    }
    recordModelSource(partial, "");
    recordModelSource(spec.dest, spec.url);
    recordSha256(spec.dest, hash);
    return Done{};
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
