#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace vozmo::test {

// The HTTPS server of model_server.py as a child process on a free port of 127.0.0.1, with a
// self-signed certificate made for it that only the test trusts; stopped by its process id on
// destruction.
class ModelServer {
public:
    ModelServer();
    ~ModelServer();
    ModelServer(const ModelServer&) = delete;
    ModelServer& operator=(const ModelServer&) = delete;

    bool running() const { return port_ > 0; }
    // "https://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;
    int port() const { return port_; }
    // The server's certificate (PEM), for Downloader::trustedCertificates.
    std::string certificate() const { return (dir_ / "cert.pem").string(); }
    // Every path requested so far, one a line, with " from=A" for a range request.
    std::string requests() const;
    // Body bytes sent so far, over every request.
    std::int64_t bytesSent() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path dir_;
};

// The bytes of model_server.py's files from `start` to `end`: byte i is i % 256.
std::string servedBytes(std::int64_t start, std::int64_t end);

// A URL on which nothing listens (the port was just free), so a connection is refused.
std::string refusedUrl();

} // namespace vozmo::test
