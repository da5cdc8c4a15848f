#include "find_binary.h"

#include "config.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace vozmo {

std::vector<std::filesystem::path> binarySearchFolders(const std::filesystem::path& executableDir,
                                                       const std::string& pathVariable,
                                                       const std::filesystem::path& home) {
    std::vector<std::filesystem::path> folders;
    if (!executableDir.empty()) {
        folders.push_back(executableDir / "bin");
    }
    std::stringstream entries(pathVariable);
    std::string entry;
    while (std::getline(entries, entry, ':')) {
        // A relative entry (or an empty one, which means ".") would make the answer depend on
        // the folder vozmo happened to be started from.
        if (!entry.empty() && entry.front() == '/') {
            folders.emplace_back(entry);
        }
    }
    if (!home.empty() && home.is_absolute()) {
        folders.push_back(home / ".local" / "bin");
    }
    folders.emplace_back("/usr/local/bin");
    folders.emplace_back("/usr/bin");
    return folders;
}

std::optional<std::filesystem::path>
findBinaryIn(const std::string& name, const std::vector<std::filesystem::path>& folders) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return std::nullopt;
    }
    for (const auto& folder : folders) {
        auto candidate = folder / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> findBinary(const std::string& name) {
    const char* path = std::getenv("PATH");
    const char* home = std::getenv("HOME");
    return findBinaryIn(
        name, binarySearchFolders(config().executableDir, path ? path : "", home ? home : ""));
}

} // namespace vozmo
