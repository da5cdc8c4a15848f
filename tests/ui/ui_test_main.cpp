#include <QApplication>

#include <gtest/gtest.h>

#include <optional>

// The panel and menu tests need a real application object on the test desktop; listing the
// tests (done at build time, without a display) must not create one.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::optional<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests)) {
        app.emplace(argc, argv);
    }
    return RUN_ALL_TESTS();
}
