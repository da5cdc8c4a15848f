#include "clipboard_x11.h"

#include "log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>

// Xlib after Qt: its macros (None, Status) would break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>

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

// Our text on the clipboard, noting when Qt hands its bytes to a program that asks for them.
class WatchedText final : public QMimeData {
public:
    explicit WatchedText(std::shared_ptr<bool> read) : read_(std::move(read)) {}

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        *read_ = true;
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::shared_ptr<bool> read_;
};

} // namespace

X11Clipboard::X11Clipboard(QObject* parent) : QObject(parent) {
    if (!display_) {
        log("Portapapeles: no hay pantalla X11");
        countQtNotices();
        return;
    }
    Display* display = display_.get();
    clipboardAtom_ = display_.atom("CLIPBOARD");
    window_ = XCreateSimpleWindow(display, display_.root(), 0, 0, 1, 1, 0, 0, 0);
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
    textRead_ = std::make_shared<bool>(false);
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
