#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace vozmo::test {

// The HTTP server of model_server.py as a child process on a free port of 127.0.0.1; stopped by
// its process id on destruction.
class ModelServer {
public:
    ModelServer();
    ~ModelServer();
    ModelServer(const ModelServer&) = delete;
    ModelServer& operator=(const ModelServer&) = delete;

    bool running() const { return port_ > 0; }
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;
    // Every path requested so far, one a line.
    std::string requests() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::filesystem::path log_;
};

// A URL on which nothing listens (the port was just free), so a connection is refused.
std::string refusedUrl();

} // namespace vozmo::test
