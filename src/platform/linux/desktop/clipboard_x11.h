#pragma once

#include "clipboard.h"
#include "x11_display.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <chrono>
#include <memory>

class QSocketNotifier;

namespace vozmo {

// The CLIPBOARD selection. Reading and writing go through QClipboard, which serves our own
// content from the event loop while another application reads it. Changes are counted from
// XFixes selection notifications on a connection of our own, which changeCount() drains
// synchronously, so a copy made a moment ago by another program is never missed.
// Needs a QGuiApplication; main thread only.
class X11Clipboard : public QObject, public Clipboard {
    Q_OBJECT
public:
    explicit X11Clipboard(QObject* parent = nullptr);
    ~X11Clipboard() override;

    // Answers from the last prefetch() when nothing changed since, without waiting on the
    // owner; otherwise reads now, with short limits.
    ClipboardSnapshot snapshot() override;
    // Reads another owner's content on a thread with a connection of its own, so a frozen or
    // slow owner never holds the main thread.
    void prefetch() override;
    void setText(const std::string& text) override;
    void restore(const ClipboardSnapshot& snapshot) override;
    std::uint64_t changeCount() override;
    // Takes the X server's time: a paste request made for the stroke carries the stroke's
    // time, which is later, while a clipboard manager's carries the time of the change it saw.
    void strokeSending() override;
    bool textRead() override { return textRead_->read; }

    // What is known of the request Qt is about to serve, and of the last stroke.
    struct Requests {
        bool read = false;    // the text was served to a request after the stroke
        bool pending = false; // a request for the text is being served now
        unsigned long requestTime = 0;
        bool requestAfterMark = false;
        bool marked = false;
        unsigned long markTime = 0; // the X server's time just before the stroke
    };

private:
    void drainEvents();
    void countQtNotices();
    bool ownerAnswers(std::chrono::milliseconds limit);
    unsigned long serverTime();

    X11Display display_;
    unsigned long window_ = 0;
    unsigned long clipboardAtom_ = 0;
    int fixesEventBase_ = -1;
    std::uint64_t changes_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    // Shared with the last setText's content, which notes when a program is served its bytes.
    std::shared_ptr<Requests> textRead_ = std::make_shared<Requests>();
    std::unique_ptr<QAbstractNativeEventFilter> requestWatch_;
    struct Prefetch;
    std::unique_ptr<Prefetch> prefetch_;
};

} // namespace vozmo
