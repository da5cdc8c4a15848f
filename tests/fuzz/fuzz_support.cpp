#include "fuzz_support.h"

#include "config.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <unistd.h>

namespace vozmo::fuzz {

namespace {

class PrivateHome {
public:
    PrivateHome() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vozmo-fuzz-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        root_ = tmpl;
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        initConfig({"vozmo"});
        ensureSupport();
    }
    ~PrivateHome() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    const std::filesystem::path& path() const { return root_; }

private:
    std::filesystem::path root_;
};

} // namespace

const std::filesystem::path& privateHome() {
    static const PrivateHome home;
    return home.path();
}

} // namespace vozmo::fuzz
