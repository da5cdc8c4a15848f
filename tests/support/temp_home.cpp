#include "temp_home.h"

#include "config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vozmo::test {

TempHome::TempHome(const std::vector<std::string>& args) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vozmo-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = tmpl;
    ::setenv("HOME", root_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    initConfig(args);
}

TempHome::~TempHome() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

} // namespace vozmo::test
