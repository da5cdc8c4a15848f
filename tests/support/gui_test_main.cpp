// The entry point of the test executables that need a QApplication (windows, the clipboard,
// deliveries to the main thread). The suite runs inside the test desktop; listing the tests,
// which the build does without a display, creates no application object.
#include <QApplication>

#include <gtest/gtest.h>

#include <optional>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::optional<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) {
        app.emplace(argc, argv);
    }
    return RUN_ALL_TESTS();
}
