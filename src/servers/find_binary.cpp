#include "find_binary.h"

#include "config.h"

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vozmo {

std::optional<std::filesystem::path> findBinary(const std::string& name) {
    std::vector<std::filesystem::path> folders;
    if (!config().executableDir.empty()) {
        folders.push_back(config().executableDir / "bin");
    }
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        for (std::string folder; std::getline(in, folder, ':');) {
            if (!folder.empty()) {
                folders.emplace_back(folder);
            }
        }
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        folders.push_back(std::filesystem::path(home) / ".local" / "bin");
    }
    folders.emplace_back("/usr/local/bin");
    folders.emplace_back("/usr/bin");
    for (const auto& folder : folders) {
        auto candidate = folder / name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace vozmo
