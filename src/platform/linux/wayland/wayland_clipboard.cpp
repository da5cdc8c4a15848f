#include "wayland_clipboard.h"

#include "log.h"

#include <QSocketNotifier>
#include <QTimer>

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <vector>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

// A frozen owner gets this long to start answering, and all reads together this long: the
// same limits as on X11.
constexpr std::chrono::milliseconds kOwnerProbeLimit{500};
constexpr std::chrono::milliseconds kSnapshotLimit{2000};
// A program that stops reading what it asked us for is dropped after this long without progress.
constexpr std::chrono::milliseconds kStalledReaderLimit{5000};

const char* const kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING",
                                  "TEXT"};

// Writes what fits without blocking. A reader that closed its end must not end this process
// with SIGPIPE: the signal is held back for the write, and the one it raised is taken away.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipeOnly;
    sigset_t before;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !alreadyPending) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

} // namespace

struct WaylandClipboard::State {
    // One content we offer: alive until the compositor tells us another one replaced it.
    struct Source {
        State* state = nullptr;
        zwlr_data_control_source_v1* proxy = nullptr;
        std::shared_ptr<const ClipboardSnapshot> content;
    };
    // Bytes on their way to a program that pastes them.
    struct Transfer {
        int fd = -1;
        std::shared_ptr<const ClipboardSnapshot> content; // keeps `bytes` alive
        const std::string* bytes = nullptr;
        std::size_t written = 0;
        // Children of the clipboard, let go on the event loop's next turn: a transfer ends from
        // its own notifier's signal.
        QSocketNotifier* notifier = nullptr;
        QTimer* stalled = nullptr;

        Transfer() = default;
        Transfer(const Transfer&) = delete;
        Transfer& operator=(const Transfer&) = delete;
        ~Transfer() {
            for (QObject* watcher :
                 {static_cast<QObject*>(notifier), static_cast<QObject*>(stalled)}) {
                if (watcher != nullptr) {
                    watcher->disconnect();
                    watcher->deleteLater();
                }
            }
            if (notifier != nullptr) {
                notifier->setEnabled(false);
            }
            if (stalled != nullptr) {
                stalled->stop();
            }
            // The reader sees the end of the data once this closes.
            if (fd >= 0) {
                ::close(fd);
            }
        }
    };

    explicit State(QObject* owner) : owner(owner) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    QObject* owner; // parent of the watchers; may be null for a mere check

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    bool finished = false;
    std::unique_ptr<QSocketNotifier> notifier;

    // Offers announced by the compositor, with their MIME types in the owner's order.
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers;
    zwlr_data_control_offer_v1* selection = nullptr;
    std::uint64_t changes = 0; // one per selection event

    std::list<std::unique_ptr<Source>> sources;
    Source* current = nullptr; // ours while the compositor has not cancelled it
    bool currentRead = false;  // a program asked `current` for its bytes
    std::list<std::unique_ptr<Transfer>> transfers;

    ~State() {
        transfers.clear();
        for (auto& source : sources) {
            zwlr_data_control_source_v1_destroy(source->proxy);
        }
        for (auto& [offer, types] : offers) {
            zwlr_data_control_offer_v1_destroy(offer);
        }
        notifier.reset();
        if (device != nullptr) {
            zwlr_data_control_device_v1_destroy(device);
        }
        if (manager != nullptr) {
            zwlr_data_control_manager_v1_destroy(manager);
        }
        if (seat != nullptr) {
            wl_seat_destroy(seat);
        }
        if (registry != nullptr) {
            wl_registry_destroy(registry);
        }
        if (display != nullptr) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    bool broken() const {
        return display == nullptr || device == nullptr || finished ||
               wl_display_get_error(display) != 0;
    }

    // Connects and binds the globals; the reason when that fails.
    std::string open();
    void forgetOffer(zwlr_data_control_offer_v1* offer) {
        if (offer != nullptr && offers.erase(offer) > 0) {
            zwlr_data_control_offer_v1_destroy(offer);
        }
    }
    void serve(Source& source, const char* mimeType, int fd);
    void pump(Transfer& transfer);
    void drop(Transfer& transfer) {
        transfers.remove_if([&](const auto& t) { return t.get() == &transfer; });
    }
    void cancelled(Source& source) {
        if (current == &source) {
            current = nullptr;
        }
        zwlr_data_control_source_v1_destroy(source.proxy);
        sources.remove_if([&](const auto& s) { return s.get() == &source; });
    }
};

namespace {

using State = WaylandClipboard::State;

void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType) {
    auto* state = static_cast<State*>(data);
    auto it = state->offers.find(offer);
    if (it != state->offers.end()) {
        it->second.emplace_back(mimeType);
    }
}

const zwlr_data_control_offer_v1_listener kOfferListener = {onOfferType};

void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    auto* state = static_cast<State*>(data);
    state->offers[offer];
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, state);
}

void onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    auto* state = static_cast<State*>(data);
    if (state->selection != offer) {
        state->forgetOffer(state->selection);
    }
    state->selection = offer;
    ++state->changes;
}

void onFinished(void* data, zwlr_data_control_device_v1*) {
    static_cast<State*>(data)->finished = true;
}

void onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                        zwlr_data_control_offer_v1* offer) {
    // Bound at version 1, so this does not come; an offer it named would be of no use.
    static_cast<State*>(data)->forgetOffer(offer);
}

const zwlr_data_control_device_v1_listener kDeviceListener = {onDataOffer, onSelection, onFinished,
                                                              onPrimarySelection};

void onSend(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd) {
    auto* source = static_cast<State::Source*>(data);
    if (source == source->state->current) {
        source->state->currentRead = true;
    }
    source->state->serve(*source, mimeType, fd);
}

void onCancelled(void* data, zwlr_data_control_source_v1*) {
    auto* source = static_cast<State::Source*>(data);
    source->state->cancelled(*source);
}

const zwlr_data_control_source_v1_listener kSourceListener = {onSend, onCancelled};

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
               globals->manager == nullptr) {
        globals->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

} // namespace

std::string State::open() {
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return "no hay conexión con el compositor Wayland";
    }
    Globals globals;
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    const int answered = wl_display_roundtrip(display);
    seat = globals.seat;
    manager = globals.manager;
    if (answered < 0) {
        return "el compositor Wayland no responde";
    }
    if (manager == nullptr) {
        return "el compositor no ofrece su portapapeles (zwlr_data_control_manager_v1)";
    }
    if (seat == nullptr) {
        return "el compositor no tiene asiento (wl_seat)";
    }
    device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
    zwlr_data_control_device_v1_add_listener(device, &kDeviceListener, this);
    // The current selection comes on binding.
    if (wl_display_roundtrip(display) < 0) {
        return "el compositor Wayland no responde";
    }
    return "";
}

void State::serve(Source& source, const char* mimeType, int fd) {
    const std::string* bytes = nullptr;
    for (const ClipboardFormat& format : *source.content) {
        if (format.mimeType == mimeType) {
            bytes = &format.bytes;
            break;
        }
    }
    if (bytes == nullptr) {
        ::close(fd);
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto transfer = std::make_unique<Transfer>();
    transfer->fd = fd;
    transfer->content = source.content;
    transfer->bytes = bytes;
    Transfer* raw = transfer.get();
    // A large content does not fit the pipe at once; the rest goes as the reader takes it, from
    // the event loop, so a slow or frozen reader never holds the main thread.
    transfer->notifier = new QSocketNotifier(fd, QSocketNotifier::Write, owner);
    transfer->notifier->setEnabled(false);
    QObject::connect(transfer->notifier, &QSocketNotifier::activated, [this, raw] { pump(*raw); });
    transfer->stalled = new QTimer(owner);
    transfer->stalled->setSingleShot(true);
    QObject::connect(transfer->stalled, &QTimer::timeout, [this, raw] {
        log("Portapapeles: un programa dejó de leer lo que pidió");
        drop(*raw);
    });
    transfers.push_back(std::move(transfer));
    pump(*raw);
}

void State::pump(Transfer& transfer) {
    const std::string& bytes = *transfer.bytes;
    while (transfer.written < bytes.size()) {
        ssize_t n = writeWithoutSigpipe(transfer.fd, bytes.data() + transfer.written,
                                        bytes.size() - transfer.written);
        if (n > 0) {
            transfer.written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            transfer.notifier->setEnabled(true);
            transfer.stalled->start(kStalledReaderLimit);
            return;
        }
        break; // the reader went away
    }
    drop(transfer);
}

WaylandClipboard::WaylandClipboard(QObject* parent) : QObject(parent) {
    connectToCompositor();
}

bool WaylandClipboard::connectToCompositor() {
    auto state = std::make_unique<State>(this);
    const std::string problem = state->open();
    if (!problem.empty()) {
        log("Portapapeles Wayland: " + problem);
    }
    const std::uint64_t changes = state_ ? state_->changes + 1 : 0;
    state_ = std::move(state);
    state_->changes = changes;
    if (!problem.empty()) {
        return false;
    }
    state_->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(state_->display),
                                                         QSocketNotifier::Read);
    connect(state_->notifier.get(), &QSocketNotifier::activated, this, [this] { dispatch(); });
    return true;
}

WaylandClipboard::~WaylandClipboard() = default;

bool WaylandClipboard::ok() const {
    return !state_->broken();
}

void WaylandClipboard::dispatch() {
    wl_display* display = state_->display;
    // A connection in error keeps its unread events queued, and would never let us read.
    bool failed = false;
    while (!failed && wl_display_prepare_read(display) != 0) {
        failed = wl_display_dispatch_pending(display) < 0;
    }
    if (!failed) {
        wl_display_flush(display);
        pollfd watch{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&watch, 1, 0) > 0) {
            wl_display_read_events(display);
        } else {
            wl_display_cancel_read(display);
        }
        wl_display_dispatch_pending(display);
        wl_display_flush(display);
    }
    if (state_->broken() && state_->notifier) {
        log("Portapapeles Wayland: se perdió la conexión con el compositor");
        state_->notifier->setEnabled(false);
    }
}

void WaylandClipboard::strokeSending() {
    if (!state_->broken()) {
        wl_display_roundtrip(state_->display);
    }
    state_->currentRead = false;
}

bool WaylandClipboard::textRead() {
    return state_->currentRead;
}

std::uint64_t WaylandClipboard::changeCount() {
    if (!state_->broken()) {
        // After the round trip every change the compositor made so far has reached us.
        wl_display_roundtrip(state_->display);
    }
    return state_->changes;
}

ClipboardSnapshot WaylandClipboard::snapshot() {
    State& s = *state_;
    if (s.broken() || wl_display_roundtrip(s.display) < 0) {
        return {};
    }
    if (s.current != nullptr) {
        return *s.current->content; // our own, from memory
    }
    if (s.selection == nullptr) {
        return {};
    }
    const std::uint64_t mark = s.changes;
    const std::vector<std::string> types = s.offers[s.selection];
    ClipboardSnapshot saved;
    const auto start = Clock::now();
    bool first = true;
    for (const std::string& type : types) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return {};
        }
        // Only our end waits for nothing: owners write as they please, many of them blocking.
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        zwlr_data_control_offer_v1_receive(s.selection, type.c_str(), fds[1]);
        ::close(fds[1]);
        wl_display_flush(s.display);
        const auto deadline = start + (first ? kOwnerProbeLimit : kSnapshotLimit);
        first = false;
        std::string bytes;
        bool complete = false;
        for (;;) {
            char buffer[65536];
            ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                complete = true;
                break;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                break;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd watch{fds[0], POLLIN, 0};
            poll(&watch, 1, static_cast<int>(left.count()));
        }
        ::close(fds[0]);
        if (!complete) {
            log("Portapapeles: su dueño tarda demasiado; no se guardará su contenido");
            return {};
        }
        // Nothing to give back for a format that came empty, as on X11.
        if (!bytes.empty()) {
            saved.push_back({type, std::move(bytes)});
        }
    }
    // An owner that exited or gave the clipboard away mid-read left us only part of it, and
    // restoring that part would pass for the whole.
    if (wl_display_roundtrip(s.display) < 0 || s.changes != mark) {
        log("Portapapeles: su dueño se cerró mientras se leía; no se guardará su contenido");
        return {};
    }
    return saved;
}

void WaylandClipboard::setText(const std::string& text) {
    auto content = std::make_shared<ClipboardSnapshot>();
    for (const char* type : kTextTypes) {
        content->push_back({type, text});
    }
    offer(std::move(content));
}

void WaylandClipboard::restore(const ClipboardSnapshot& snapshot) {
    offer(std::make_shared<const ClipboardSnapshot>(snapshot));
}

void WaylandClipboard::offer(std::shared_ptr<const ClipboardSnapshot> content) {
    // The compositor restarted, or dropped us: a fresh connection for this write.
    if (state_->broken() && !connectToCompositor()) {
        return;
    }
    State& s = *state_;
    s.currentRead = false;
    if (content->empty()) {
        zwlr_data_control_device_v1_set_selection(s.device, nullptr);
        s.current = nullptr;
    } else {
        auto source = std::make_unique<State::Source>();
        source->state = &s;
        source->content = std::move(content);
        source->proxy = zwlr_data_control_manager_v1_create_data_source(s.manager);
        zwlr_data_control_source_v1_add_listener(source->proxy, &kSourceListener, source.get());
        for (const ClipboardFormat& format : *source->content) {
            zwlr_data_control_source_v1_offer(source->proxy, format.mimeType.c_str());
        }
        zwlr_data_control_device_v1_set_selection(s.device, source->proxy);
        s.current = source.get();
        s.sources.push_back(std::move(source));
    }
    // Once the compositor has answered, it has made this the seat's selection and told the
    // focused window so, ahead of any key stroke sent after this returns.
    wl_display_roundtrip(s.display);
}

std::string dataControlProblem() {
    WaylandClipboard::State state(nullptr);
    return state.open();
}

} // namespace vozmo
