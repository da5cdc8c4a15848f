#include "process_info.h"
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vozmo {
namespace {

// A server swept at start must be waited for until its last thread ends: a zombie leader
// with a live thread still holds the port the new server is about to bind.
TEST(ProcessInfo, AZombieLeaderWithALiveThreadStillRuns) {
    int out[2];
    int in[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(in), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(in[0], STDIN_FILENO);
        ::close(in[1]);
        ::execl(THREAD_OUTLIVES_MAIN, THREAD_OUTLIVES_MAIN, nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    char ready[6];
    ASSERT_EQ(::read(out[0], ready, sizeof ready), 6);
    ::close(out[0]);

    // The identity is taken while the main thread still runs (it waits for its input to close),
    // however slowly this machine gets here; then the leader ends and becomes a zombie.
    const std::optional<ProcessIdentity> identity = processIdentity(pid);
    ::close(in[1]);
    ASSERT_TRUE(identity.has_value());
    for (int i = 0; i < 2000 && processIdentity(pid).has_value(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(processIdentity(pid).has_value()) << "the leader should show as ended";
    EXPECT_TRUE(anyThreadRunning(*identity));

    ::kill(pid, SIGKILL);
    for (int i = 0; i < 200 && anyThreadRunning(*identity); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(anyThreadRunning(*identity)) << "an unreaped zombie holds nothing";
    ::waitpid(pid, nullptr, 0);
    EXPECT_FALSE(anyThreadRunning(*identity));
}

} // namespace
} // namespace vozmo
