#include "temp_folder.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vozmo {

std::filesystem::path privateTempFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && runtime[0] == '/' && ::lstat(runtime, &info) == 0 &&
        S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0) {
        return runtime;
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "vozmo-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) {
        return tmpl;
    }
    // Last resort: our own support folder is private to the user as well.
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/");
}

} // namespace vozmo
