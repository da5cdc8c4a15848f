#pragma once

#include "clipboard.h"
#include "x11_display.h"

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

    ClipboardSnapshot snapshot() override;
    void setText(const std::string& text) override;
    void restore(const ClipboardSnapshot& snapshot) override;
    std::uint64_t changeCount() override;
    bool textRead() override { return *textRead_; }

private:
    void drainEvents();
    void countQtNotices();
    bool ownerAnswers(std::chrono::milliseconds limit);

    X11Display display_;
    unsigned long window_ = 0;
    unsigned long clipboardAtom_ = 0;
    int fixesEventBase_ = -1;
    std::uint64_t changes_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    // Set by the last setText's content when a program asks it for its bytes.
    std::shared_ptr<bool> textRead_ = std::make_shared<bool>(false);
};

} // namespace vozmo
