#include "log.h"

#include "config.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vozmo {

std::string logTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

void log(std::string_view message) {
    const std::string stamp = logTimestamp();
    std::string entry;
    entry.reserve(stamp.size() + message.size() + 4);
    entry.append("[").append(stamp).append("] ").append(message).push_back('\n');

    if (config().logsDir.empty()) {
        // Before the paths are known (a tool or test that never set them up), a relative
        // "app.log" would land in whatever folder the process runs in.
        std::fwrite(entry.data(), 1, entry.size(), stderr);
        return;
    }
    const auto path = config().logsDir / "app.log";
    // O_APPEND makes each single write land whole at the end, even with other writers; no
    // handle is kept, so a deleted or moved log is simply created again.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const char* data = entry.data();
        size_t left = entry.size();
        while (left > 0) {
            ssize_t n = ::write(fd, data, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
        ::close(fd);
    }

    if (config().isSelfTest) {
        std::string line(message);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

} // namespace vozmo
