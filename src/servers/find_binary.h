#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vozmo {

// The first executable file of that name in: bin/ beside our executable, PATH in order,
// ~/.local/bin, /usr/local/bin, /usr/bin.
std::optional<std::filesystem::path> findBinary(const std::string& name);

} // namespace vozmo
