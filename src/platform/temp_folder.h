#pragma once

#include <filesystem>

namespace vozmo {

// A folder only this user can write: $XDG_RUNTIME_DIR when it is set and private, otherwise a
// fresh folder made with mkdtemp. Never a predictable name in a shared /tmp.
std::filesystem::path privateTempFolder();

} // namespace vozmo
