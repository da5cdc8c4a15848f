#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// The setup tests need an event loop for the deliveries to the main thread, and the window
// tests a display (the suite runs inside the test desktop). Listing the tests, which the build
// does without a display, needs neither.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    }
    std::unique_ptr<QApplication> app;
    if (!listing) {
        app = std::make_unique<QApplication>(argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
