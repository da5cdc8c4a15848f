// The HTTP client's handling of whatever a server on loopback sends back, read on as a
// transcription answer and as a polish answer. Input: the raw bytes of the server's response.
#include "fuzz_support.h"
#include "http.h"
#include "polisher.h"
#include "transcribe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("listen");
            std::abort();
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// One exchange: read the request's head, answer with `response`, close the sending side and
// drain what the client still sends until it hangs up.
void serveOnce(int listenFd, const std::string& response) {
    if (!readable(listenFd, 5000)) {
        return;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && readable(fd, 5000)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t sent = 0;
    while (sent < response.size()) {
        const ssize_t n = ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    while (readable(fd, 2000) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Listener listener;
    const std::string response(vozmo::fuzz::bytesOf(data, size));
    vozmo::HttpResponse answer;
    {
        std::jthread server(serveOnce, listener.fd(), response);
        vozmo::HttpRequest request;
        request.url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/inference";
        request.timeoutSeconds = 3.0;
        answer = vozmo::http(request);
    }
    FUZZ_CHECK((answer.status == 0) == !answer.body.has_value());
    if (answer.body) {
        FUZZ_CHECK(answer.body->size() <= response.size());
    }
    (void)vozmo::readTranscript(answer.status, answer.body);
    (void)vozmo::Polisher::readPolishAnswer(answer.status, answer.body);
    return 0;
}
