#include "target_window_sway.h"

#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace vozmo {

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr std::size_t kMagicSize = 6;
constexpr std::size_t kHeaderSize = kMagicSize + 8;
// A frozen compositor must not hold the main thread.
constexpr int kTimeoutMs = 500;
// The largest answer taken: a tree of a few hundred windows is well under this.
constexpr std::uint32_t kMaxAnswer = 16u << 20;

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

bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(left.count())) == 1 && (p.revents & events) != 0;
}

bool readExactly(int fd, char* out, std::size_t size,
                 std::chrono::steady_clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        if (!waitFor(fd, POLLIN, deadline)) {
            return false;
        }
        ssize_t n = ::read(fd, out + done, size - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<TargetApp> findFocused(const nlohmann::json& node, int depth) {
    if (!node.is_object() || depth > 64) {
        return std::nullopt;
    }
    auto focused = node.find("focused");
    if (focused != node.end() && focused->is_boolean() && focused->get<bool>()) {
        TargetApp app;
        if (auto pid = node.find("pid"); pid != node.end() && pid->is_number_integer()) {
            app.pid = static_cast<pid_t>(pid->get<long long>());
        }
        if (auto id = node.find("app_id"); id != node.end() && id->is_string()) {
            app.appId = id->get<std::string>();
        }
        auto props = node.find("window_properties");
        if (app.appId.empty() && props != node.end() && props->is_object()) {
            if (auto cls = props->find("class"); cls != props->end() && cls->is_string()) {
                app.appId = cls->get<std::string>();
            }
        }
        if (auto window = node.find("window");
            window != node.end() && window->is_number_unsigned()) {
            app.window = window->get<unsigned long>();
        }
        // A workspace or output with the focus has no application.
        if (app.pid == 0 && app.appId.empty()) {
            return std::nullopt;
        }
        return app;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        auto list = node.find(children);
        if (list == node.end() || !list->is_array()) {
            continue;
        }
        for (const auto& child : *list) {
            if (auto app = findFocused(child, depth + 1)) {
                return app;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> swayRequest(const std::string& socketPath, std::uint32_t type,
                                       const std::string& payload) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    std::string request(kMagic, kMagicSize);
    const auto length = static_cast<std::uint32_t>(payload.size());
    request.append(reinterpret_cast<const char*>(&length), 4); // native byte order, as sway's
    request.append(reinterpret_cast<const char*>(&type), 4);
    request += payload;
    std::size_t sent = 0;
    while (sent < request.size()) {
        if (!waitFor(fd.get(), POLLOUT, deadline)) {
            return std::nullopt;
        }
        ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return std::nullopt;
        }
        sent += static_cast<std::size_t>(n);
    }
    char header[kHeaderSize];
    if (!readExactly(fd.get(), header, kHeaderSize, deadline) ||
        std::memcmp(header, kMagic, kMagicSize) != 0) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    std::uint32_t answerType = 0;
    std::memcpy(&size, header + kMagicSize, 4);
    std::memcpy(&answerType, header + kMagicSize + 4, 4);
    if (answerType != type || size > kMaxAnswer) {
        return std::nullopt;
    }
    std::string body(size, '\0');
    if (!readExactly(fd.get(), body.data(), size, deadline)) {
        return std::nullopt;
    }
    return body;
}

std::optional<TargetApp> swayFocusedApp(const nlohmann::json& tree) {
    return findFocused(tree, 0);
}

SwayTargetWindow::SwayTargetWindow(std::string socketPath) : socketPath_(std::move(socketPath)) {}

std::optional<TargetApp> SwayTargetWindow::focused() {
    auto answer = swayRequest(socketPath_, kSwayGetTree);
    if (!answer) {
        return std::nullopt;
    }
    auto tree = nlohmann::json::parse(*answer, nullptr, false);
    return tree.is_discarded() ? std::nullopt : swayFocusedApp(tree);
}

bool swayBindsVozmoKey(const std::string& socketPath) {
    auto answer = swayRequest(socketPath, kSwayGetConfig);
    if (!answer) {
        return false;
    }
    auto reply = nlohmann::json::parse(*answer, nullptr, false);
    if (!reply.is_object() || !reply.contains("config") || !reply["config"].is_string()) {
        return false;
    }
    const std::string config = reply["config"].get<std::string>();
    return config.find("--key press") != std::string::npos ||
           config.find("--key toggle") != std::string::npos;
}

} // namespace vozmo
