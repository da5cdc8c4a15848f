#pragma once

#include "harness.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace vozmo::bench {

// The application on the test desktop with the stand-in servers, as the application benches
// drive it: the desk, a target window with the focus, the running application and a watch on
// its panel.
class BenchApp {
public:
    // `bench` starts the messages on stderr.
    explicit BenchApp(const char* bench) : bench_(bench) {}

    // Configure the stand-ins before start().
    test::StandinDir& standins() { return standins_; }
    test::AppHome& home() { return home_; }
    test::Desk& desk() { return desk_; }
    test::HudWatch& hud() { return *hud_; }
    test::RunningApp& app() { return *app_; }

    // Opens the target window and starts the application; false, said why, without a display
    // or when the window never gets the focus. The servers may still be starting.
    bool start();

    // Holds the dictation key for `seconds` while a short tone and then silence play: the seconds
    // from the release to the paste stroke in the target, or nothing, said why, when no paste
    // came within `limit`.
    std::optional<double> releaseToPaste(double seconds, std::chrono::milliseconds limit);

    // Waits for the panel to go and `quiet` more: nothing of the last dictation still runs.
    void settle(std::chrono::milliseconds quiet);

    // Says why on stderr, with the application's log; answers false.
    bool fail(const std::string& why);

private:
    const char* bench_;
    test::Desk desk_;
    test::StandinDir standins_;
    test::AppHome home_;
    std::unique_ptr<test::Target> target_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
};

} // namespace vozmo::bench
