#pragma once

#include "target_window.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace vozmo {

// The focused window as sway's IPC tells it (`get_tree`): the focused node's pid and its
// app_id, or for an XWayland window its X11 class. Main thread only.
class SwayTargetWindow : public TargetWindow {
public:
    explicit SwayTargetWindow(std::string socketPath);
    std::optional<TargetApp> focused() override;

private:
    std::string socketPath_;
};

// Pure: the focused node of a get_tree answer; absent when no node has the focus or the tree
// is not of the expected shape.
std::optional<TargetApp> swayFocusedApp(const nlohmann::json& tree);

// One IPC request (message type, payload) to sway's socket; the answer's JSON text, or absent
// when sway does not answer in time.
std::optional<std::string> swayRequest(const std::string& socketPath, std::uint32_t type,
                                       const std::string& payload = "");

inline constexpr std::uint32_t kSwayGetTree = 4;
inline constexpr std::uint32_t kSwayGetConfig = 9;

// Whether sway's loaded configuration binds a key to `vozmo --key`.
bool swayBindsVozmoKey(const std::string& socketPath);

} // namespace vozmo
