#include "temp_home.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace vozmo {
namespace {

struct Run {
    int status;
    std::string out;
};

Run runVozmo(const std::string& args) {
    std::string command = std::string(VOZMO_EXE) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    std::array<char, 256> buf;
    while (size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) {
        out.append(buf.data(), n);
    }
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(Entry, HelpAndVersionExitZero) {
    test::TempHome home;
    auto help = runVozmo("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--selftest"), std::string::npos);
    auto version = runVozmo("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vozmo ", 0), 0u);
}

} // namespace
} // namespace vozmo
