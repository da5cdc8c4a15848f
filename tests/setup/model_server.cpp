#include "model_server.h"

#include "temp_home.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace vozmo::test {

namespace {

// Runs a program to its end with its output discarded; true when it succeeded.
bool runQuietly(std::vector<const char*> argv) {
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

ModelServer::ModelServer() {
    char dir[] = "/tmp/vozmo-model-server-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        return;
    }
    dir_ = dir;
    const std::string cert = (dir_ / "cert.pem").string();
    const std::string key = (dir_ / "key.pem").string();
    const std::string log = (dir_ / "requests.log").string();
    const std::string bytes = (dir_ / "bytes.log").string();
    writeFile(log, "");
    writeFile(bytes, "");
    if (!runQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                     "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                     "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                     key.c_str(), "-out", cert.c_str()})) {
        return;
    }
    int out[2];
    if (::pipe(out) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const char* argv[] = {VOZMO_PYTHON, VOZMO_MODEL_SERVER, "--log",  log.c_str(),
                              "--bytes",    bytes.c_str(),      "--cert", cert.c_str(),
                              "--key",      key.c_str(),        nullptr};
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
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string ModelServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::string ModelServer::requests() const {
    return readFile(dir_ / "requests.log");
}

std::int64_t ModelServer::bytesSent() const {
    std::int64_t total = 0;
    for (const auto& line : lines(readFile(dir_ / "bytes.log"))) {
        total += std::atoll(line.c_str());
    }
    return total;
}

std::string servedBytes(std::int64_t start, std::int64_t end) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(end - start));
    for (std::int64_t i = start; i < end; ++i) {
        bytes += static_cast<char>(i % 256);
    }
    return bytes;
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
    return "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/file/1000";
}

} // namespace vozmo::test
