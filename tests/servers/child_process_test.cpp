#include "child_process.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <sys/wait.h>

namespace vozmo {
namespace {

std::shared_ptr<ChildProcess> start(std::vector<std::string> arguments,
                                    std::function<void(pid_t, int)> onExit = {}) {
    ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = std::move(arguments);
    options.onExit = std::move(onExit);
    std::string error;
    auto process = ChildProcess::spawn(std::move(options), error);
    EXPECT_TRUE(process) << error;
    return process;
}

TEST(ChildProcess, TheExitIsNoticedWithItsStatus) {
    std::mutex lock;
    std::optional<int> status;
    auto process = start({"-c", "exit 3"}, [&](pid_t, int waitStatus) {
        std::lock_guard guard(lock);
        status = waitStatus;
    });
    ASSERT_TRUE(process);
    process->waitUntilExit();
    EXPECT_FALSE(process->isRunning());
    process.reset(); // joins the watcher, so the callback has run
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 3);
}

// The owner may go while the child still runs (the application quitting): the watcher ends
// with it instead of waiting for the child, and the child is left alone.
TEST(ChildProcess, GoingAwayDoesNotWaitForTheChild) {
    bool called = false;
    auto process = start({"-c", "sleep 60"}, [&](pid_t, int) { called = true; });
    ASSERT_TRUE(process);
    const pid_t pid = process->pid();
    process.reset();
    EXPECT_FALSE(called);
    EXPECT_EQ(::kill(pid, 0), 0) << "the child was touched";
    ::kill(pid, SIGKILL);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid); // not reaped by the gone watcher
}

// A supervisor may let go of its process inside the exit callback.
TEST(ChildProcess, MayBeReleasedFromItsOwnExitCallback) {
    // Shared with the callback, which may still be returning when the test ends.
    struct Shared {
        std::mutex lock;
        std::condition_variable done;
        std::shared_ptr<ChildProcess> held;
        bool released = false;
    };
    auto shared = std::make_shared<Shared>();
    std::unique_lock guard(shared->lock);
    shared->held = start({"-c", "exit 0"}, [shared](pid_t, int) {
        std::shared_ptr<ChildProcess> last;
        {
            std::lock_guard inner(shared->lock);
            last = std::move(shared->held);
            shared->released = true;
        }
        last.reset();
        shared->done.notify_all();
    });
    ASSERT_TRUE(shared->held);
    EXPECT_TRUE(
        shared->done.wait_for(guard, std::chrono::seconds(30), [&] { return shared->released; }));
}

} // namespace
} // namespace vozmo
