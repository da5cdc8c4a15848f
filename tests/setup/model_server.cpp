#include "model_server.h"

#include "temp_home.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vozmo::test {

ModelServer::ModelServer() {
    char dir[] = "/tmp/vozmo-model-server-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        return;
    }
    log_ = std::filesystem::path(dir) / "requests.log";
    writeFile(log_, "");
    int out[2];
    if (::pipe(out) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const char* argv[] = {VOZMO_PYTHON, VOZMO_MODEL_SERVER, "--log", log_.c_str(), nullptr};
        ::execv(VOZMO_PYTHON, const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(out[1]);
    // The first line is the port; a slow machine gets a full minute.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 60000) > 0) {
        char buffer[64];
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
}

ModelServer::~ModelServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!log_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(log_.parent_path(), ec);
    }
}

std::string ModelServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string ModelServer::requests() const {
    return readFile(log_);
}

std::string refusedUrl() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/file/1000";
}

} // namespace vozmo::test
