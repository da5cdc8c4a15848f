#include "hyprland_target_window.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdlib>
#include <system_error>

namespace vozmo {

namespace {

// The compositor answers from its main loop at once; a stuck one must not stall the paste.
constexpr int kAnswerLimitMs = 500;
// An active-window answer is a few hundred bytes; anything far larger is not one.
constexpr qint64 kAnswerCap = 1 << 20;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::optional<std::string> request(const std::filesystem::path& socketPath,
                                   const QByteArray& command) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath.string()));
    if (!socket.waitForConnected(kAnswerLimitMs)) {
        return std::nullopt;
    }
    socket.write(command);
    if (!socket.waitForBytesWritten(kAnswerLimitMs)) {
        return std::nullopt;
    }
    // Hyprland closes the connection after its answer: read until then.
    QByteArray answer;
    QDeadlineTimer deadline(kAnswerLimitMs);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        if (socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            answer += socket.readAll();
            if (answer.size() > kAnswerCap) {
                return std::nullopt;
            }
        } else if (socket.state() == QLocalSocket::ConnectedState) {
            return std::nullopt; // time ran out with the connection still open
        }
    }
    answer += socket.readAll();
    if (socket.state() == QLocalSocket::ConnectedState) {
        return std::nullopt;
    }
    return answer.toStdString();
}

} // namespace

std::filesystem::path hyprlandSocket() {
    const std::string signature = environment("HYPRLAND_INSTANCE_SIGNATURE");
    if (signature.empty() || signature.find('/') != std::string::npos) {
        return {};
    }
    std::vector<std::filesystem::path> candidates;
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        candidates.push_back(std::filesystem::path(runtime) / "hypr" / signature / ".socket.sock");
    }
    candidates.push_back(std::filesystem::path("/tmp/hypr") / signature / ".socket.sock");
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_socket(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

std::string hyprlandProblem() {
    if (environment("HYPRLAND_INSTANCE_SIGNATURE").empty()) {
        return "no es una sesión de Hyprland (falta HYPRLAND_INSTANCE_SIGNATURE)";
    }
    if (hyprlandSocket().empty()) {
        return "no se encuentra el socket de Hyprland (.socket.sock)";
    }
    return "";
}

std::optional<TargetApp> parseHyprlandActiveWindow(const std::string& answer) {
    const auto json = nlohmann::json::parse(answer, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    TargetApp app;
    if (auto it = json.find("class"); it != json.end() && it->is_string()) {
        app.appId = it->get<std::string>();
    }
    if (auto it = json.find("pid"); it != json.end() && it->is_number_integer()) {
        const auto pid = it->get<long long>();
        app.pid = pid > 0 && pid <= 0x7fffffff ? static_cast<pid_t>(pid) : 0;
    }
    if (auto it = json.find("address"); it != json.end() && it->is_string()) {
        std::string_view text = it->get_ref<const std::string&>();
        if (text.substr(0, 2) == "0x") {
            text.remove_prefix(2);
        }
        unsigned long address = 0;
        const auto [end, error] =
            std::from_chars(text.data(), text.data() + text.size(), address, 16);
        if (error == std::errc() && end == text.data() + text.size()) {
            app.window = address;
        }
    }
    if (app.pid == 0 && app.appId.empty() && app.window == 0) {
        return std::nullopt;
    }
    return app;
}

std::optional<TargetApp> HyprlandTargetWindow::focused() {
    const auto socket = hyprlandSocket();
    if (socket.empty()) {
        return std::nullopt;
    }
    const auto answer = request(socket, QByteArrayLiteral("j/activewindow"));
    return answer ? parseHyprlandActiveWindow(*answer) : std::nullopt;
}

std::unique_ptr<TargetWindow> makeHyprlandTargetWindow() {
    return std::make_unique<HyprlandTargetWindow>();
}

} // namespace vozmo
