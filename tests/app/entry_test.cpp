#include "standin.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

struct Run {
    int status;
    std::string out;
};

// Runs build/vozmo through the shell; `prefix` goes before it (e.g. "env -u DISPLAY").
Run runVozmo(const std::string& args, const std::string& prefix = "", bool errorsOnly = false) {
    std::string command = prefix + " " + std::string(VOZMO_EXE) + " " + args +
                          (errorsOnly ? " 2>&1 >/dev/null" : " 2>&1");
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    std::array<char, 256> buf;
    while (size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) {
        out.append(buf.data(), n);
    }
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// A first instance with its own runtime folder, once its socket is there.
struct RunningFirst {
    explicit RunningFirst(const test::TempHome& home)
        : runtime(privateFolder(home.path() / "runtime")), env{{"XDG_RUNTIME_DIR",
                                                                runtime.string()},
                                                               {"PATH", "/nonexistent"}},
          process({VOZMO_EXE}, env, home.path() / "first.out") {}

    static std::filesystem::path privateFolder(const std::filesystem::path& path) {
        std::filesystem::create_directories(path);
        ::chmod(path.c_str(), 0700);
        return path;
    }

    bool listening() {
        if (!process.started()) {
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            std::this_thread::sleep_for(50ms);
            for (const auto& entry : std::filesystem::directory_iterator(runtime)) {
                if (entry.path().filename().string().rfind("vozmo-", 0) == 0) {
                    return true;
                }
            }
        }
        return false;
    }

    std::filesystem::path runtime;
    std::map<std::string, std::string> env;
    test::ChildProcess process;
};

TEST(Entry, HelpAndVersionExitZero) {
    test::TempHome home;
    auto help = runVozmo("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--selftest"), std::string::npos);
    auto version = runVozmo("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vozmo ", 0), 0u);
}

TEST(Entry, UnknownOptionsStopWithTheUsageOnStandardError) {
    test::TempHome home;
    for (const char* args : {"--verbose", "--selftest --bogus", "-q"}) {
        // Standard error only, with no display: nothing may be started before the check.
        auto run = runVozmo(args, "env -u DISPLAY -u WAYLAND_DISPLAY", true);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.out.find("opción desconocida"), std::string::npos) << args << run.out;
        EXPECT_NE(run.out.find("Uso: vozmo [--selftest | --help | --version | --key"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_FALSE(std::filesystem::exists(home.path() / "data" / "Vozmo"));
}

TEST(Entry, WithoutADisplayItSaysSoAndExitsOne) {
    test::TempHome home;
    for (const char* prefix : {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM",
                               // An X server that is not there is no display either.
                               "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:987"}) {
        auto run = runVozmo("", prefix, true);
        EXPECT_EQ(run.status, 1) << prefix;
        EXPECT_EQ(run.out, "No hay pantalla: Vozmo necesita una sesión gráfica (X11 o Wayland)\n")
            << prefix;
    }
}

TEST(Entry, AKeyCommandWithoutARunningInstanceSaysSoAndExitsOne) {
    test::TempHome home;
    const auto runtime = home.path() / "runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    // No display is needed either: the command only talks to the socket.
    auto run = runVozmo("--key press",
                        "env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=" + runtime.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "vozmo: Vozmo no está en marcha; ábrelo antes de usar --key\n");
}

// A second launch finds the first through its socket in the runtime folder and asks it to
// show its window. Needs the test desktop.
TEST(Entry, ASecondLaunchSaysTheFirstOneOpensItsWindow) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "runs on the test desktop";
    }
    test::TempHome home;
    RunningFirst running(home);
    ASSERT_TRUE(running.listening());
    const auto& env = running.env;
    test::ChildProcess& first = running.process;
    const auto secondOut = home.path() / "second.out";
    test::ChildProcess second({VOZMO_EXE}, env, secondOut);
    auto status = second.wait(20s);
    first.stop();
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(test::readFile(secondOut), "Vozmo ya está en marcha; abro su ventana\n");
}

// The desktop-shortcut command reaches the running instance and returns at once, quietly.
TEST(Entry, AKeyCommandReachesTheRunningInstance) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "runs on the test desktop";
    }
    test::TempHome home;
    RunningFirst running(home);
    ASSERT_TRUE(running.listening());
    const auto& env = running.env;
    test::ChildProcess& first = running.process;
    // Cancel with nothing recording does nothing; an unknown action never reaches the socket.
    for (const char* action : {"cancel", "toggle", "cancel"}) {
        const auto out = home.path() / (std::string(action) + ".out");
        test::ChildProcess key({VOZMO_EXE, "--key", action}, env, out);
        auto status = key.wait(20s);
        ASSERT_TRUE(status && WIFEXITED(*status)) << action;
        EXPECT_EQ(WEXITSTATUS(*status), 0) << action;
        EXPECT_EQ(test::readFile(out), "") << action;
    }
    first.stop();
}

} // namespace
} // namespace vozmo
