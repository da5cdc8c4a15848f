#include "clipboard_x11.h"

#include "log.h"

#include <QByteArray>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>

// Xlib after Qt: its macros (None, Status) would break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <xcb/xproto.h>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

// A frozen owner gets this long to list its formats, and all reads together this long.
constexpr std::chrono::milliseconds kOwnerProbeLimit{500};
constexpr std::chrono::milliseconds kSnapshotLimit{2000};

// X11 meta targets (TARGETS, TIMESTAMP, MULTIPLE, SAVE_TARGETS) and the upper-case string
// atoms carry no MIME type; the text they stand for is offered as text/plain as well.
bool isMimeType(const QString& format) {
    return format.contains(QLatin1Char('/'));
}

constexpr std::chrono::milliseconds kServerTimeLimit{200};

// Whether X server time `time` is `since` or later; the 32-bit millisecond clock wraps.
bool atOrAfter(unsigned long time, unsigned long since) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(time - since)) >= 0;
}

// Our text on the clipboard, noting when Qt hands its bytes to a program whose request came
// after the paste stroke. Our own reads (the snapshot of our own content) come with no request
// and do not count.
class WatchedText final : public QMimeData {
public:
    explicit WatchedText(std::shared_ptr<X11Clipboard::Requests> requests)
        : requests_(std::move(requests)) {}

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        X11Clipboard::Requests& r = *requests_;
        if (r.pending) {
            r.pending = false;
            // A request without a time (CurrentTime) is placed by when Qt serves it: one made
            // during the paste itself counts as the target's, as nothing else tells them apart.
            const bool forStroke =
                !r.marked || (r.requestTime == CurrentTime ? r.requestAfterMark
                                                           : atOrAfter(r.requestTime, r.markTime));
            r.read = r.read || forStroke;
        }
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::shared_ptr<X11Clipboard::Requests> requests_;
};

// Sees every CLIPBOARD request on Qt's connection just before Qt serves it, and notes its time
// for the content Qt will ask.
class RequestWatch final : public QAbstractNativeEventFilter {
public:
    RequestWatch(std::function<std::shared_ptr<X11Clipboard::Requests>()> current,
                 unsigned long clipboard, unsigned long targets, unsigned long timestamp)
        : current_(std::move(current)), clipboard_(clipboard), targets_(targets),
          timestamp_(timestamp) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST) {
            return false;
        }
        const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
        // The list of formats and the ownership time carry none of the text.
        if (request->selection != clipboard_ || request->target == targets_ ||
            request->target == timestamp_) {
            return false;
        }
        X11Clipboard::Requests& r = *current_();
        r.pending = true;
        r.requestTime = request->time;
        r.requestAfterMark = r.marked;
        return false;
    }

private:
    std::function<std::shared_ptr<X11Clipboard::Requests>()> current_;
    unsigned long clipboard_;
    unsigned long targets_;
    unsigned long timestamp_;
};

// Reads the CLIPBOARD's owner on a connection of its own, for a thread that is not Qt's.
class OwnerReader {
public:
    OwnerReader(std::stop_token stop, Clock::time_point deadline)
        : stop_(std::move(stop)), deadline_(deadline), display_(XOpenDisplay(nullptr)) {
        if (display_ != nullptr) {
            window_ =
                XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
            XSelectInput(display_, window_, PropertyChangeMask);
            clipboard_ = XInternAtom(display_, "CLIPBOARD", False);
            property_ = XInternAtom(display_, "VOZMO_READ", False);
            incr_ = XInternAtom(display_, "INCR", False);
        }
    }
    ~OwnerReader() {
        if (display_ != nullptr) {
            XDestroyWindow(display_, window_);
            XCloseDisplay(display_);
        }
    }
    OwnerReader(const OwnerReader&) = delete;
    OwnerReader& operator=(const OwnerReader&) = delete;

    // Every MIME format the owner offers with its bytes; absent when the owner did not answer
    // in time or changed meanwhile.
    std::optional<ClipboardSnapshot> read(Clock::time_point probeDeadline) {
        if (display_ == nullptr) {
            return std::nullopt;
        }
        const Window owner = XGetSelectionOwner(display_, clipboard_);
        if (owner == None) {
            return ClipboardSnapshot{};
        }
        const auto targets =
            convert(XInternAtom(display_, "TARGETS", False), std::min(probeDeadline, deadline_));
        if (!targets) {
            return std::nullopt;
        }
        std::vector<Atom> offered(targets->size() / sizeof(Atom));
        std::memcpy(offered.data(), targets->data(), offered.size() * sizeof(Atom));
        ClipboardSnapshot saved;
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        bool plain = false;
        for (const Atom target : offered) {
            char* name = XGetAtomName(display_, target);
            if (name == nullptr) {
                continue;
            }
            const std::string mime = name;
            XFree(name);
            if (mime.find('/') == std::string::npos) {
                continue;
            }
            const auto bytes = convert(target, deadline_);
            if (!bytes) {
                return std::nullopt;
            }
            if (!bytes->empty()) {
                plain = plain || mime == "text/plain";
                saved.push_back({mime, *bytes});
            }
        }
        // Text offered only by its X11 name comes back as plain text, as Qt would list it.
        if (!plain && std::find(offered.begin(), offered.end(), utf8) != offered.end()) {
            const auto bytes = convert(utf8, deadline_);
            if (!bytes) {
                return std::nullopt;
            }
            if (!bytes->empty()) {
                saved.push_back({"text/plain", *bytes});
            }
        }
        if (XGetSelectionOwner(display_, clipboard_) != owner) {
            return std::nullopt;
        }
        return saved;
    }

private:
    // The bytes of one target, INCR transfers included; absent on no answer in time.
    std::optional<std::string> convert(Atom target, Clock::time_point deadline) {
        XConvertSelection(display_, clipboard_, target, property_, window_, CurrentTime);
        XFlush(display_);
        XEvent event;
        if (!next(event, deadline, [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.target == target;
            })) {
            return std::nullopt;
        }
        if (event.xselection.property == None) {
            return std::string(); // refused: nothing of this format to keep
        }
        Atom type = None;
        std::string bytes = take(&type);
        if (type != incr_) {
            return bytes;
        }
        // Large content comes in pieces, each announced by a new value of the property.
        bytes.clear();
        for (;;) {
            if (!next(event, deadline, [&](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.atom == property_ &&
                           e.xproperty.state == PropertyNewValue;
                })) {
                return std::nullopt;
            }
            const std::string piece = take(&type);
            if (piece.empty()) {
                return bytes;
            }
            bytes += piece;
        }
    }

    // Reads and deletes the property.
    std::string take(Atom* type) {
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::string bytes;
        if (XGetWindowProperty(display_, window_, property_, 0, 0x7fffffff, True, AnyPropertyType,
                               type, &format, &items, &after, &data) == Success &&
            data != nullptr) {
            // Xlib hands 32-bit items as longs.
            const std::size_t unit =
                format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
            bytes.assign(reinterpret_cast<const char*>(data), items * unit);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return bytes;
    }

    template <typename Wanted> bool next(XEvent& event, Clock::time_point deadline, Wanted wanted) {
        for (;;) {
            while (XPending(display_) > 0) {
                XNextEvent(display_, &event);
                if (wanted(event)) {
                    return true;
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || stop_.stop_requested()) {
                return false;
            }
            // Short slices: a stop request is seen soon.
            pollfd watch{ConnectionNumber(display_), POLLIN, 0};
            poll(&watch, 1, static_cast<int>(std::min<long>(left.count(), 50)));
        }
    }

    std::stop_token stop_;
    Clock::time_point deadline_;
    Display* display_;
    Window window_ = None;
    Atom clipboard_ = None;
    Atom property_ = None;
    Atom incr_ = None;
};

} // namespace

// One background read, and the change count it was started at.
struct X11Clipboard::Prefetch {
    std::uint64_t mark = 0;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::optional<ClipboardSnapshot> content; // absent: the owner did not answer
    std::jthread worker;                      // last: stopped and joined first
};

void X11Clipboard::prefetch() {
    if (!display_) {
        return;
    }
    prefetch_.reset(); // an earlier read in flight is stopped
    auto job = std::make_unique<Prefetch>();
    job->mark = changeCount();
    Prefetch& p = *job;
    p.worker = std::jthread([&p](std::stop_token stop) {
        const auto started = Clock::now();
        OwnerReader reader(stop, started + kSnapshotLimit);
        auto content = reader.read(started + kOwnerProbeLimit);
        {
            std::lock_guard guard(p.lock);
            p.content = std::move(content);
            p.done = true;
        }
        p.finished.notify_all();
    });
    prefetch_ = std::move(job);
}

X11Clipboard::X11Clipboard(QObject* parent) : QObject(parent) {
    if (!display_) {
        log("Portapapeles: no hay pantalla X11");
        countQtNotices();
        return;
    }
    Display* display = display_.get();
    clipboardAtom_ = display_.atom("CLIPBOARD");
    window_ = XCreateSimpleWindow(display, display_.root(), 0, 0, 1, 1, 0, 0, 0);
    // Property changes on it answer the server's time.
    XSelectInput(display, window_, PropertyChangeMask);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        requestWatch_ =
            std::make_unique<RequestWatch>([this] { return textRead_; }, clipboardAtom_,
                                           display_.atom("TARGETS"), display_.atom("TIMESTAMP"));
        app->installNativeEventFilter(requestWatch_.get());
    }
    int errorBase = 0;
    if (XFixesQueryExtension(display, &fixesEventBase_, &errorBase) == 0) {
        fixesEventBase_ = -1;
        log("Portapapeles: el servidor X no ofrece XFixes");
        countQtNotices();
    } else {
        XFixesSelectSelectionInput(display, window_, clipboardAtom_,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    }
    XFlush(display);
    // Keep Xlib's queue short between readings.
    notifier_ = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { drainEvents(); });
}

void X11Clipboard::countQtNotices() {
    // Without XFixes of our own, Qt's notice stands in, though it may come a turn of the event
    // loop late.
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard) {
                ++changes_;
            }
        });
    }
}

X11Clipboard::~X11Clipboard() {
    prefetch_.reset();
    if (requestWatch_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(requestWatch_.get());
    }
    if (display_ && window_ != 0) {
        XDestroyWindow(display_.get(), window_);
    }
}

void X11Clipboard::drainEvents() {
    if (!display_) {
        return;
    }
    Display* display = display_.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (fixesEventBase_ >= 0 && event.type == fixesEventBase_ + XFixesSelectionNotify) {
            ++changes_;
        }
    }
}

std::uint64_t X11Clipboard::changeCount() {
    if (display_) {
        // After the round trip every change the server made so far has reached our queue.
        XSync(display_.get(), False);
        drainEvents();
    }
    return changes_;
}

unsigned long X11Clipboard::serverTime() {
    Display* display = display_.get();
    const Atom property = display_.atom("VOZMO_TIME");
    XChangeProperty(display, window_, property, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XFlush(display);
    const auto deadline = Clock::now() + kServerTimeLimit;
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (fixesEventBase_ >= 0 && event.type == fixesEventBase_ + XFixesSelectionNotify) {
                ++changes_;
            } else if (event.type == PropertyNotify && event.xproperty.window == window_ &&
                       event.xproperty.atom == property) {
                return event.xproperty.time;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return CurrentTime;
        }
        pollfd watch{ConnectionNumber(display), POLLIN, 0};
        poll(&watch, 1, static_cast<int>(left.count()));
    }
}

void X11Clipboard::strokeSending() {
    Requests& r = *textRead_;
    r.read = false;
    r.pending = false;
    r.marked = false;
    if (!display_ || window_ == 0) {
        return; // no way to tell the readers apart: any read counts
    }
    const unsigned long now = serverTime();
    r.marked = now != CurrentTime;
    r.markTime = now;
}

bool X11Clipboard::ownerAnswers(std::chrono::milliseconds limit) {
    Display* display = display_.get();
    if (XGetSelectionOwner(display, clipboardAtom_) == None) {
        return false;
    }
    Atom property = display_.atom("VOZMO_PROBE");
    XConvertSelection(display, clipboardAtom_, display_.atom("TARGETS"), property, window_,
                      CurrentTime);
    XFlush(display);
    auto deadline = Clock::now() + limit;
    for (;;) {
        XEvent event;
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (fixesEventBase_ >= 0 && event.type == fixesEventBase_ + XFixesSelectionNotify) {
                ++changes_;
            } else if (event.type == SelectionNotify &&
                       event.xselection.selection == clipboardAtom_) {
                XDeleteProperty(display, window_, property);
                return event.xselection.property != None;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watch{ConnectionNumber(display), POLLIN, 0};
        poll(&watch, 1, static_cast<int>(left.count()));
    }
}

ClipboardSnapshot X11Clipboard::snapshot() {
    ClipboardSnapshot saved;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return saved;
    }
    // Our own content is read from memory; another owner is first asked for its formats with
    // a short limit, so one that hangs cannot hold the main thread for QClipboard's 5 s per read.
    const bool ours = clipboard->ownsClipboard();
    if (!ours && prefetch_ && prefetch_->mark == changeCount()) {
        // Read in the background since the key went down; it has had its time limits already
        // unless the dictation was very short.
        std::unique_lock guard(prefetch_->lock);
        prefetch_->finished.wait_for(guard, kSnapshotLimit, [this] { return prefetch_->done; });
        if (prefetch_->done && prefetch_->content) {
            return *prefetch_->content;
        }
        log("Portapapeles: su dueño no responde; no se guardará su contenido");
        return saved;
    }
    if (!ours && (!display_ || !ownerAnswers(kOwnerProbeLimit))) {
        return saved;
    }
    const Window owner = ours ? None : XGetSelectionOwner(display_.get(), clipboardAtom_);
    const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
    if (data == nullptr) {
        return saved;
    }
    auto deadline = Clock::now() + kSnapshotLimit;
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        if (!isMimeType(format)) {
            continue;
        }
        if (Clock::now() > deadline) {
            log("Portapapeles: su dueño tarda demasiado; no se guardará su contenido");
            return {};
        }
        QByteArray bytes = data->data(format);
        // A format that could not be read comes back empty, and an empty one is not worth keeping.
        if (bytes.isEmpty()) {
            continue;
        }
        saved.push_back({format.toStdString(), bytes.toStdString()});
    }
    // An owner that exited or gave the clipboard away mid-read left us only part of it, and
    // restoring that part would pass for the whole.
    if (!ours && XGetSelectionOwner(display_.get(), clipboardAtom_) != owner) {
        log("Portapapeles: su dueño se cerró mientras se leía; no se guardará su contenido");
        return {};
    }
    return saved;
}

void X11Clipboard::setText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return;
    }
    // A fresh flag: a late read of an earlier text says nothing about this one.
    textRead_ = std::make_shared<Requests>();
    auto data = std::make_unique<WatchedText>(textRead_);
    data->setData(QStringLiteral("text/plain"), QByteArray::fromStdString(text));
    clipboard->setMimeData(data.release(), QClipboard::Clipboard); // QClipboard takes it
}

void X11Clipboard::restore(const ClipboardSnapshot& snapshot) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return;
    }
    auto data = std::make_unique<QMimeData>();
    for (const ClipboardFormat& format : snapshot) {
        data->setData(QString::fromStdString(format.mimeType),
                      QByteArray::fromStdString(format.bytes));
    }
    clipboard->setMimeData(data.release(), QClipboard::Clipboard); // QClipboard takes it
}

} // namespace vozmo
