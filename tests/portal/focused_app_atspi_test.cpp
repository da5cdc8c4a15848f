#include "focused_app_atspi.h"
#include "standin.h"
#include "temp_home.h"

#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace vozmo {
namespace {

// Real GTK windows on the test desktop: the answer follows the focus from one application to
// the next and back.
TEST(AtspiFocusedApp, FollowsTheActiveApplication) {
    ASSERT_EQ(atspiFocusedAppProblem(), "");
    test::TempHome home;
    AtspiFocusedApp finder;
    auto activeIs = [&](const test::ChildProcess& window, const std::string& name) {
        return QTest::qWaitFor(
            [&] {
                const auto app = finder.focused();
                return app && app->pid == window.pid() && app->appId == name;
            },
            20000);
    };

    test::ChildProcess first({FOCUS_WINDOW, "vozmo-ventana-uno"}, {}, home.path() / "uno.out");
    ASSERT_TRUE(activeIs(first, "vozmo-ventana-uno")) << test::readFile(home.path() / "uno.out");
    {
        test::ChildProcess second({FOCUS_WINDOW, "vozmo-ventana-dos"}, {}, home.path() / "dos.out");
        ASSERT_TRUE(activeIs(second, "vozmo-ventana-dos"));
        EXPECT_EQ(finder.focused()->window, 0u);
    }
    EXPECT_TRUE(activeIs(first, "vozmo-ventana-uno"));
    first.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !finder.focused(); }, 20000));
}

} // namespace
} // namespace vozmo
