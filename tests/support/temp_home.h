#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vozmo::test {

// A private HOME with its own XDG folders for one test; the process-wide configuration is
// pointed at it, so nothing touches the user's own files. Removed again on destruction.
class TempHome {
public:
    explicit TempHome(const std::vector<std::string>& args = {"vozmo"});
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return root_; }

private:
    std::filesystem::path root_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);
// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

} // namespace vozmo::test
