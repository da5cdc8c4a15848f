// The sound server connection the application keeps, against a PulseAudio of the test's own that
// it stops, kills and starts again: nothing waits on the server, a capture that cannot start or
// breaks is reported, and the connection comes back with the server.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "audio_input.h"
#include "desktop_support.h"
#include "recorder.h"
#include "wait.h"

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A PulseAudio with one null sink, on a socket in a private folder; only this test talks to it.
class PrivatePulse {
public:
    PrivatePulse() {
        char name[] = "/tmp/vozmo-pulse-XXXXXX";
        folder_ = ::mkdtemp(name);
    }
    ~PrivatePulse() {
        kill();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    std::string address() const { return "unix:" + (folder_ / "native").string(); }
    pid_t pid() const { return pid_; }

    bool start() {
        std::vector<std::string> argv = {
            "pulseaudio",
            "-n",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--use-pid-file=no",
            "--load=module-null-sink sink_name=psink",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                (folder_ / "native").string()};
        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + folder_.string(),
                                        "HOME=" + folder_.string(),
                                        "PATH=" + std::string(std::getenv("PATH"))};
        std::vector<char*> args;
        for (auto& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& var : env) {
            envp.push_back(var.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned =
            ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        return test::waitFor(
                   [&] {
                       return test::run({"pactl", "-s", address(), "info"}) == 0;
                   },
                   15) &&
               test::run({"pactl", "-s", address(), "set-default-source", "psink.monitor"}) == 0;
    }

    void signal(int number) const {
        if (pid_ > 0) {
            ::kill(pid_, number);
        }
    }

    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGCONT);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
};

struct ServerAddress {
    explicit ServerAddress(const std::string& address) {
        if (const char* value = std::getenv("PULSE_SERVER")) {
            saved = value;
        }
        ::setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~ServerAddress() {
        if (saved.empty()) {
            ::unsetenv("PULSE_SERVER");
        } else {
            ::setenv("PULSE_SERVER", saved.c_str(), 1);
        }
    }
    std::string saved;
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(SoundServerDesktop, NothingWaitsOnAServerThatHangsDiesOrComesBack) {
    PrivatePulse pulse;
    ASSERT_TRUE(pulse.start());
    ServerAddress address(pulse.address());

    SoundServer server;
    ASSERT_TRUE(test::waitFor(
        [&] { return server.microphoneStatus() == MicrophoneStatus::authorized; }, 15));
    EXPECT_TRUE(server.running());

    std::atomic<int> levels{0};
    std::atomic<int> lost{0};
    Recorder recorder{[&] { return server.makeInput(); }};
    recorder.onLevel = [&](float) { ++levels; };
    recorder.onLost = [&](unsigned, const std::string&) { ++lost; };
    ASSERT_FALSE(recorder.start());
    ASSERT_TRUE(test::waitFor([&] { return levels.load() > 0; }, 10));
    recorder.stop();

    // A hung server: the press and the status queries answer from what is known, and the
    // capture that cannot start is reported rather than left recording nothing.
    pulse.signal(SIGSTOP);
    const auto pressed = Clock::now();
    const auto started = recorder.start();
    const MicrophoneStatus status = server.microphoneStatus();
    server.running();
    EXPECT_LT(secondsSince(pressed), 0.5) << "the start waited on a stopped server";
    EXPECT_FALSE(started);
    EXPECT_EQ(status, MicrophoneStatus::authorized); // nothing has told it otherwise yet
    ASSERT_TRUE(test::waitFor([&] { return lost.load() == 1; }, 15));
    const auto stopping = Clock::now();
    recorder.stop();
    EXPECT_LT(secondsSince(stopping), 0.5);

    // A server gone: known at once, and a press fails at once with the reason.
    pulse.kill();
    ASSERT_TRUE(test::waitFor([&] { return !server.running(); }, 15));
    EXPECT_EQ(server.microphoneStatus(), MicrophoneStatus::restricted);
    const auto refused = recorder.start();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, Recorder::RecError::noInput);
    EXPECT_NE(refused->description.find("servidor"), std::string::npos) << refused->description;

    // The server back: the same connection object finds it and records again.
    ASSERT_TRUE(pulse.start());
    ASSERT_TRUE(test::waitFor(
        [&] { return server.microphoneStatus() == MicrophoneStatus::authorized; }, 15));
    levels = 0;
    ASSERT_FALSE(recorder.start());
    ASSERT_TRUE(test::waitFor([&] { return levels.load() > 0; }, 10));
    recorder.stop();
    EXPECT_EQ(lost.load(), 1);
}

} // namespace
} // namespace vozmo
