// The `vozmo` command. A desktop's key binding runs `vozmo --key ACTION` at every press and
// release, so that case must not pay for loading Qt: it is handled here, in plain C++, over the
// running instance's socket. Everything else, and a key action this cannot deliver, goes to the
// full program, started in place of this process with the same arguments.
#include "command_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The same limits as the full program's sender.
constexpr auto kConnectLimit = std::chrono::milliseconds(1000);
constexpr auto kWriteLimit = std::chrono::milliseconds(1000);
constexpr auto kAnswerLimit = std::chrono::milliseconds(2000);

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Waits for `events` on `fd` until `deadline`; false on time out or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) {
            return (p.revents & events) != 0;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

enum class Sent { taken, noAnswer, notConnected };

// The running instance's socket, where the full program puts it when the runtime folder is set.
Sent sendKey(const std::string& socketPath, const std::string& action) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        return Sent::notConnected;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0) {
        return Sent::notConnected;
    }
    const int fd = socket.get();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) {
            return Sent::notConnected;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (!waitFor(fd, POLLOUT, Clock::now() + kConnectLimit) ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return Sent::notConnected;
        }
    }
    const std::string line = "key " + action + "\n";
    std::size_t written = 0;
    const auto writeBy = Clock::now() + kWriteLimit;
    while (written < line.size()) {
        const ssize_t n = ::send(fd, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Sent::noAnswer;
        } else if (!waitFor(fd, POLLOUT, writeBy)) {
            return Sent::noAnswer;
        }
    }
    // The instance answers "ok" once it has taken the action.
    std::string answer;
    const auto answerBy = Clock::now() + kAnswerLimit;
    while (answer.size() < 2) {
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        } else if (!waitFor(fd, POLLIN, answerBy)) {
            break;
        }
    }
    return answer.rfind("ok", 0) == 0 ? Sent::taken : Sent::noAnswer;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string ownPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The full program: beside this one in the build folder, in the library folder once installed.
int startFullProgram(char** argv) {
    const std::string self = ownPath();
    if (self.empty()) {
        std::fputs("vozmo: no se encuentra el propio programa (/proc/self/exe)\n", stderr);
        return 127;
    }
    const std::string folder = folderOf(self);
    // It finds its servers and its login entry beside this command, not beside itself.
    ::setenv("VOZMO_LAUNCHER", self.c_str(), 1);
    const std::string candidates[] = {folder + "/libexec/vozmo/vozmo",
                                      folder + "/../" VOZMO_LIBEXECDIR "/vozmo/vozmo"};
    for (const std::string& program : candidates) {
        if (::access(program.c_str(), X_OK) == 0) {
            ::execv(program.c_str(), argv);
            std::fprintf(stderr, "vozmo: no se pudo iniciar %s: %s\n", program.c_str(),
                         std::strerror(errno));
            return 127;
        }
    }
    std::fprintf(stderr, "vozmo: falta el programa completo (%s)\n", candidates[1].c_str());
    return 127;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const vozmo::CommandLine command = vozmo::parseCommandLine(args);
    if (command.mode == vozmo::CommandLine::Mode::key) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime != nullptr && *runtime == '/') {
            const std::string socket =
                std::string(runtime) + "/vozmo-" + std::to_string(::getuid()) + ".sock";
            switch (sendKey(socket, command.keyAction)) {
            case Sent::taken:
                return 0;
            case Sent::noAnswer:
                std::fputs(vozmo::kNoInstanceText, stderr);
                return 1;
            case Sent::notConnected:
                // Nobody there, or the socket is elsewhere: the full program's own sender says
                // which, exactly as before.
                break;
            }
        }
    }
    return startFullProgram(argv);
}
