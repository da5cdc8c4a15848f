#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vozmo {

struct LoginItemError {
    std::string description;
};

// Whether the application starts when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool enabled() const = 0;
    // Registers or unregisters; nothing on success.
    virtual std::optional<LoginItemError> setEnabled(bool enabled) = 0;
};

// XDG autostart: `desktopFile` (normally config().autostartFile) starts `executable`.
std::unique_ptr<LoginItem> makeLoginItem(std::filesystem::path desktopFile,
                                         std::filesystem::path executable);

} // namespace vozmo
