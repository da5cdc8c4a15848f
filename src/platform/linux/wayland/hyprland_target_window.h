#pragma once

#include "target_window.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vozmo {

// The active window as Hyprland's IPC socket tells it ("j/activewindow"). The window field of
// the result holds Hyprland's window address, so two windows of one process stay apart.
class HyprlandTargetWindow : public TargetWindow {
public:
    std::optional<TargetApp> focused() override;
};

// The request socket of the running Hyprland: under $XDG_RUNTIME_DIR/hypr, or /tmp/hypr for
// versions before 0.40. Empty when there is none.
std::filesystem::path hyprlandSocket();

// Why Hyprland cannot say which window is active ("" when it can).
std::string hyprlandProblem();

// Reads the answer to "j/activewindow"; absent when it names no window.
std::optional<TargetApp> parseHyprlandActiveWindow(const std::string& answer);

std::unique_ptr<TargetWindow> makeHyprlandTargetWindow();

} // namespace vozmo
