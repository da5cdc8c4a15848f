#include "standin.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <optional>
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
                if (entry.path().extension() == ".sock") {
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

// An X server that is there but refuses Vozmo (no XAUTHORITY) is named as such, on X11 and
// as XWayland; and the options that need no window work without any display.
TEST(Entry, AnXServerThatRefusesTheConnectionIsNamedAndExitsOne) {
    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/xauth", X_OK) != 0) {
        GTEST_SKIP() << "needs Xvfb and xauth";
    }
    test::TempHome home;
    // A server with access control: only holders of this cookie may connect.
    const auto cookies = home.path() / "cookies";
    test::ChildProcess xauth({"/usr/bin/xauth", "-f", cookies.string(), "add", ":0", ".",
                              "0123456789abcdef0123456789abcdef"},
                             {}, home.path() / "xauth.log");
    const auto added = xauth.wait(10s);
    ASSERT_TRUE(added && WIFEXITED(*added) && WEXITSTATUS(*added) == 0);
    const auto displayFile = home.path() / "display";
    test::ChildProcess xvfb({"/bin/sh", "-c",
                             "exec Xvfb -displayfd 3 -auth " + cookies.string() +
                                 " -nolisten tcp 3>" + displayFile.string()},
                            {}, home.path() / "xvfb.log");
    std::string display;
    for (int i = 0; i < 200 && display.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        std::ifstream in(displayFile);
        std::getline(in, display);
    }
    ASSERT_FALSE(display.empty()) << test::readFile(home.path() / "xvfb.log");
    display = ":" + display;

    // A Wayland compositor's socket beside it, for the XWayland case.
    const auto wayland = home.path() / "wayland-0";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, wayland.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::string refused = " XAUTHORITY=/nonexistent DISPLAY=" + display;
    auto x11 = runVozmo("", "env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY" + refused, true);
    EXPECT_EQ(x11.status, 1);
    EXPECT_NE(x11.out.find("El servidor X de DISPLAY=" + display + " no acepta la conexión"),
              std::string::npos)
        << x11.out;
    EXPECT_NE(x11.out.find("XAUTHORITY"), std::string::npos) << x11.out;

    auto xwayland = runVozmo(
        "", "env -u QT_QPA_PLATFORM" + refused + " WAYLAND_DISPLAY=" + wayland.string(), true);
    EXPECT_EQ(xwayland.status, 1);
    EXPECT_NE(xwayland.out.find("Vozmo necesita XWayland"), std::string::npos) << xwayland.out;
    EXPECT_NE(xwayland.out.find("su servidor X (DISPLAY=" + display + ") no acepta la conexión"),
              std::string::npos)
        << xwayland.out;
    ::close(listener);
    xvfb.stop();

    // Nothing of the account was set up before leaving.
    EXPECT_FALSE(std::filesystem::exists(home.path() / "data" / "Vozmo"));
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

// Two launches at the same instant (autostart and a click in the menu): one instance, and the
// other hands over to it and ends; the instance's socket stays, so it is still reachable.
TEST(Entry, TwoLaunchesAtTheSameInstantLeaveOneInstance) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "runs on the test desktop";
    }
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        test::TempHome home;
        const auto runtime = RunningFirst::privateFolder(home.path() / "runtime");
        const std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", runtime.string()},
                                                     {"PATH", "/nonexistent"}};
        std::vector<std::unique_ptr<test::ChildProcess>> launches;
        for (int i = 0; i < 2; ++i) {
            launches.push_back(std::make_unique<test::ChildProcess>(
                std::vector<std::string>{VOZMO_EXE}, env,
                home.path() / ("launch" + std::to_string(i) + ".out")));
        }
        // The one that hands over ends once the instance has answered.
        std::optional<int> ended;
        for (int i = 0; i < 600 && !ended; ++i) {
            for (int j = 0; j < 2 && !ended; ++j) {
                if (launches[j]->wait(25ms)) {
                    ended = j;
                }
            }
        }
        ASSERT_TRUE(ended) << "neither launch ended";
        const auto& second = *launches[*ended];
        auto& first = *launches[1 - *ended];
        ASSERT_TRUE(WIFEXITED(*second.status())) << "wait status " << *second.status();
        EXPECT_EQ(WEXITSTATUS(*second.status()), 0);
        EXPECT_EQ(test::readFile(home.path() / ("launch" + std::to_string(*ended) + ".out")),
                  "Vozmo ya está en marcha; abro su ventana\n");
        EXPECT_FALSE(first.wait(1s)) << "the other launch ended too";

        test::ChildProcess key({VOZMO_EXE, "--key", "cancel"}, env, home.path() / "key.out");
        auto status = key.wait(20s);
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << "the instance is no longer reachable: " << test::readFile(home.path() / "key.out");
        auto stopped = first.stop();
        EXPECT_TRUE(stopped && WIFEXITED(*stopped) && WEXITSTATUS(*stopped) == 0);
    }
}

} // namespace
} // namespace vozmo
