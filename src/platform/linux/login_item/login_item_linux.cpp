#include "login_item.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace vozmo {

namespace {

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The Exec value quoted as the desktop entry format asks: the argument rules inside double
// quotes, then the string escapes, and "%" doubled so it is no field code.
std::string execValue(const std::string& path) {
    std::string value = "\"";
    for (char c : path) {
        switch (c) {
        case '"':
        case '`':
        case '$':
            value += "\\\\";
            value += c;
            break;
        case '\\':
            value += "\\\\\\\\";
            break;
        case '%':
            value += "%%";
            break;
        default:
            value += c;
        }
    }
    return value + "\"";
}

class XdgAutostart final : public LoginItem {
public:
    XdgAutostart(std::filesystem::path file, std::filesystem::path executable)
        : file_(std::move(file)), executable_(std::move(executable)) {}

    bool enabled() const override {
        std::ifstream in(file_);
        if (!in) {
            return false;
        }
        // Hidden=true in the main group means the entry was deleted by the user.
        std::string line;
        bool mainGroup = false;
        while (std::getline(in, line)) {
            line = trim(line);
            if (!line.empty() && line.front() == '[') {
                mainGroup = line == "[Desktop Entry]";
                continue;
            }
            const auto equals = line.find('=');
            if (mainGroup && equals != std::string::npos &&
                trim(line.substr(0, equals)) == "Hidden" &&
                trim(line.substr(equals + 1)) == "true") {
                return false;
            }
        }
        return true;
    }

    std::optional<LoginItemError> setEnabled(bool enabled) override {
        return enabled ? install() : remove();
    }

private:
    std::optional<LoginItemError> install() {
        const std::string exec = executable_.string();
        if (exec.find_first_of("\n\r") != std::string::npos) {
            return LoginItemError{"la ruta del programa contiene saltos de línea"};
        }
        std::error_code error;
        std::filesystem::create_directories(file_.parent_path(), error);
        if (error) {
            return LoginItemError{error.message()};
        }
        std::ostringstream entry;
        entry << "[Desktop Entry]\n"
              << "Type=Application\n"
              << "Name=Vozmo\n"
              << "Comment=Dictado por voz privado y sin conexión\n"
              << "Exec=" << execValue(exec) << "\n"
              << "Icon=vozmo\n"
              << "Terminal=false\n"
              << "X-GNOME-Autostart-enabled=true\n";
        // Written beside the target and renamed over it, so a crash leaves no half file.
        const auto temporary = file_.parent_path() /
                               (file_.filename().string() + ".tmp-" + std::to_string(::getpid()));
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << entry.str();
            out.flush();
            if (!out) {
                std::filesystem::remove(temporary, error);
                return LoginItemError{"no se pudo escribir " + temporary.string()};
            }
        }
        std::filesystem::rename(temporary, file_, error);
        if (error) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return LoginItemError{error.message()};
        }
        return std::nullopt;
    }

    std::optional<LoginItemError> remove() {
        std::error_code error;
        std::filesystem::remove(file_, error);
        if (error) {
            return LoginItemError{error.message()};
        }
        return std::nullopt;
    }

    std::filesystem::path file_;
    std::filesystem::path executable_;
};

} // namespace

std::unique_ptr<LoginItem> makeLoginItem(std::filesystem::path desktopFile,
                                         std::filesystem::path executable) {
    return std::make_unique<XdgAutostart>(std::move(desktopFile), std::move(executable));
}

} // namespace vozmo
