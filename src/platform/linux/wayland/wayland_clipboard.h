#pragma once

#include "clipboard.h"

#include <QObject>

#include <memory>
#include <string>

namespace vozmo {

// The Wayland clipboard of the seat, through the compositor's data-control protocol
// (zwlr_data_control_manager_v1: sway, Hyprland, river, KDE). Unlike XWayland's clipboard, what
// is written here reaches native Wayland windows whatever window has the focus. The connection
// is Vozmo's own, watched from the event loop, which serves our content to the programs that
// paste it. Reads of another owner's content are bounded in time, and all or nothing.
// Main thread only.
class WaylandClipboard : public QObject, public Clipboard {
    Q_OBJECT
public:
    explicit WaylandClipboard(QObject* parent = nullptr);
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    // Whether the connection and the seat's data device are in place.
    bool ok() const;

    ClipboardSnapshot snapshot() override;
    // Offered as text/plain;charset=utf-8, UTF8_STRING, text/plain, STRING and TEXT, the names
    // Wayland and X11 programs ask plain text by.
    void setText(const std::string& text) override;
    void restore(const ClipboardSnapshot& snapshot) override;
    std::uint64_t changeCount() override;
    // Reads asked before this (a clipboard manager copying the new content at once) are
    // dispatched first and do not count; the protocol tells nothing else of who reads.
    void strokeSending() override;
    // Read events arrive with the next round trip, such as changeCount()'s.
    bool textRead() override;

    struct State;

private:
    bool connectToCompositor();
    void offer(std::shared_ptr<const ClipboardSnapshot> content);
    void dispatch();

    std::unique_ptr<State> state_;
};

// Why the compositor's clipboard cannot be used ("" when it can): no Wayland socket, or no
// zwlr_data_control_manager_v1 among its globals.
std::string dataControlProblem();

} // namespace vozmo
