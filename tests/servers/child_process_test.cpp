#include "child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vozmo {
namespace {

std::shared_ptr<ChildProcess> start(std::vector<std::string> arguments,
                                    std::function<void(pid_t, int)> onExit = {}) {
    ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = std::move(arguments);
    options.onExit = std::move(onExit);
    auto process = ChildProcess::spawn(std::move(options));
    EXPECT_TRUE(process) << process.error().detail;
    return process ? *process : nullptr;
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

// Variables given to the child are added to ours, replacing one of the same name (and only that
// one: VOZMO_X_LONGER shares its beginning); the rest of ours stays.
TEST(ChildProcess, TheChildGetsItsExtraEnvironment) {
    ::setenv("VOZMO_X", "ours", 1);
    ::setenv("VOZMO_X_LONGER", "kept", 1);
    ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = {"-c", "test \"$VOZMO_X\" = secreto && test \"$VOZMO_X_LONGER\" = kept && "
                               "test -n \"$PATH\""};
    options.environment = {{"VOZMO_X", "secreto"}};
    std::mutex lock;
    std::optional<int> status;
    options.onExit = [&](pid_t, int waitStatus) {
        std::lock_guard guard(lock);
        status = waitStatus;
    };
    {
        auto process = ChildProcess::spawn(std::move(options));
        ::unsetenv("VOZMO_X");
        ::unsetenv("VOZMO_X_LONGER");
        ASSERT_TRUE(process);
        (*process)->waitUntilExit();
    } // joins the watcher, so the callback has run
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

// How a program ran to its end: its exit status, a signal as 128 + its number, and a program
// that could not start as an error rather than a status it might really have exited with.
TEST(ChildProcess, RunAndWaitTellsAnExitFromAFailureToStart) {
    struct Case {
        const char* name;
        std::string executable;
        std::vector<std::string> arguments;
        std::optional<int> status; // nothing: it could not start
    };
    for (const Case& c : {
             Case{"success", "/bin/sh", {"-c", "exit 0"}, 0},
             Case{"failure", "/bin/sh", {"-c", "exit 3"}, 3},
             Case{"exit 255 is a status", "/bin/sh", {"-c", "exit 255"}, 255},
             Case{"killed", "/bin/sh", {"-c", "kill -9 $$"}, 128 + SIGKILL},
             Case{"missing program", "/nonexistent/program", {}, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        const Result<int> ran = runAndWait(c.executable, c.arguments);
        if (c.status) {
            ASSERT_TRUE(ran) << ran.error().detail;
            EXPECT_EQ(*ran, *c.status);
        } else {
            ASSERT_FALSE(ran);
            EXPECT_EQ(ran.error().kind, Error::Kind::processNotStarted);
            EXPECT_FALSE(ran.error().detail.empty());
        }
    }
    ChildProcess::Options missing;
    missing.executable = "/nonexistent/program";
    const auto spawned = ChildProcess::spawn(std::move(missing));
    ASSERT_FALSE(spawned);
    EXPECT_EQ(spawned.error().kind, Error::Kind::processNotStarted);
}

// A descriptor this process left inheritable does not reach the child; the standard ones do.
TEST(ChildProcess, OnlyTheStandardDescriptorsAreInherited) {
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inheritable, 3);
    const std::string fd = std::to_string(inheritable);
    const Result<int> ran =
        runAndWait("/bin/sh", {"-c", "[ -e /proc/self/fd/" + fd +
                                         " ] && exit 1; [ -e /proc/self/fd/2 ] || exit 2"});
    ::close(inheritable);
    ASSERT_TRUE(ran) << ran.error().detail;
    EXPECT_EQ(*ran, 0);
}

// The owner may go while the child still runs (the application quitting): the watcher ends
// with it instead of waiting for the child, and the child is left alone.
TEST(ChildProcess, GoingAwayDoesNotWaitForTheChild) {
    bool called = false;
    // The shell becomes `sleep`: a shell that had forked it would leave it behind when killed,
    // holding the test's output open for its whole minute.
    auto process = start({"-c", "exec sleep 60"}, [&](pid_t, int) { called = true; });
    ASSERT_TRUE(process);
    const pid_t pid = process->pid();
    process.reset();
    EXPECT_FALSE(called);
    EXPECT_EQ(::kill(pid, 0), 0) << "the child was touched";
    ::kill(pid, SIGKILL);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid); // not reaped by the gone watcher
}

// A supervisor lets go of an ended process inside its exit callback by moving it to a list of
// its own; the watcher is joined when the supervisor goes, on the supervisor's thread.
TEST(ChildProcess, AnEndedProcessIsKeptByItsOwnerUntilTheOwnerGoes) {
    struct Owner {
        std::mutex lock;
        std::condition_variable done;
        std::shared_ptr<ChildProcess> running;
        std::vector<std::shared_ptr<ChildProcess>> ended;
    };
    auto owner = std::make_unique<Owner>();
    std::unique_lock guard(owner->lock);
    owner->running = start({"-c", "exit 0"}, [raw = owner.get()](pid_t, int) {
        std::lock_guard inner(raw->lock);
        raw->ended.push_back(std::move(raw->running));
        raw->done.notify_all();
    });
    ASSERT_TRUE(owner->running);
    ASSERT_TRUE(owner->done.wait_for(guard, std::chrono::seconds(30),
                                     [&] { return !owner->ended.empty(); }));
    EXPECT_FALSE(owner->ended.front()->isRunning());
    guard.unlock();
    owner.reset(); // joins the watcher, which may still be returning from the callback
}

// Releasing the last reference on the watcher thread would leave that thread without anyone to
// join it: refused loudly rather than detached.
TEST(ChildProcessDeathTest, ReleasingItInItsOwnExitCallbackIsRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            std::mutex lock;
            std::condition_variable never;
            std::shared_ptr<ChildProcess> held;
            std::unique_lock guard(lock);
            held = start({"-c", "exit 0"}, [&](pid_t, int) {
                std::shared_ptr<ChildProcess> last;
                {
                    std::lock_guard inner(lock);
                    last = std::move(held);
                }
            });
            never.wait_for(guard, std::chrono::seconds(30));
        },
        "released from its own exit callback");
}

} // namespace
} // namespace vozmo
