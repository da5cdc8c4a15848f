#include "key_synth.h"
#include "target_window.h"

#include "target_fixture.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <unistd.h>

namespace vozmo {
namespace {

TEST(TargetWindow, FrontmostIsTheActiveWindowsProcessAndClass) {
    auto target = test::startTarget("VozmoChat");
    ASSERT_TRUE(target);
    auto front = focusedApp();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, static_cast<pid_t>(target->pid()));
    EXPECT_EQ(front->appId, "VozmoChat");
    EXPECT_NE(front->window, 0u);
    EXPECT_TRUE(sameApp(*front, *focusedApp()));
    EXPECT_FALSE(sameApp(ownIdentity(), *front));
}

TEST(TargetWindow, OwnIdentityIsThisProcess) {
    TargetApp own = ownIdentity();
    EXPECT_EQ(own.pid, getpid());
    EXPECT_EQ(own.appId, QCoreApplication::applicationName().toStdString());
}

TEST(TargetWindow, SameAppByProcessOrElseByWindow) {
    EXPECT_TRUE(sameApp({10, "a", 1}, {10, "a", 2}));
    EXPECT_FALSE(sameApp({10, "a", 1}, {11, "a", 1}));
    EXPECT_TRUE(sameApp({0, "a", 5}, {0, "a", 5}));
    EXPECT_FALSE(sameApp({0, "a", 5}, {0, "a", 6}));
    EXPECT_FALSE(sameApp({0, "", 0}, {0, "", 0}));
}

TEST(TargetWindow, TheTestDesktopOffersXTest) {
    EXPECT_TRUE(pasteAvailable());
}

} // namespace
} // namespace vozmo
