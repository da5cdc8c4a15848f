#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// The folders searched for a server program, in order: "bin" beside the vozmo executable, every
// absolute folder of `pathVariable`, then ~/.local/bin, /usr/local/bin and /usr/bin (sessions
// started with a short PATH still find them). Empty inputs are skipped.
std::vector<std::filesystem::path> binarySearchFolders(const std::filesystem::path& executableDir,
                                                       const std::string& pathVariable,
                                                       const std::filesystem::path& home);

// The first executable regular file called `name` in `folders`, or nothing. A name with a
// slash, or an empty one, finds nothing.
std::optional<std::filesystem::path>
findBinaryIn(const std::string& name, const std::vector<std::filesystem::path>& folders);

// findBinaryIn over the folders of this process (its executable, PATH and HOME).
std::optional<std::filesystem::path> findBinary(const std::string& name);

} // namespace vozmo
