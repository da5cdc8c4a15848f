#include "bench_app.h"

#include <cstdio>

namespace vozmo::bench {

using namespace std::chrono_literals;

bool BenchApp::start() {
    if (!desk_.connected()) {
        return fail("no X display");
    }
    target_ = std::make_unique<test::Target>(desk_);
    if (!target_->ready()) {
        return fail("the target window never got the focus");
    }
    app_ = std::make_unique<test::RunningApp>(home_, standins_);
    hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
    return true;
}

std::optional<double> BenchApp::releaseToPaste(double seconds, std::chrono::milliseconds limit) {
    if (!target_->setText("")) {
        fail("the target did not answer");
        return std::nullopt;
    }
    const auto wav = test::toneWav(home_.root() / "dictation.wav", 0.5, seconds);
    const test::HeldDictation held =
        test::holdKeyUntilPaste(desk_, *hud_, *target_, wav, seconds, limit);
    if (!held.failure.empty()) {
        fail(held.failure);
        return std::nullopt;
    }
    if (!held.pasted) {
        fail("no paste arrived");
        return std::nullopt;
    }
    return *held.pasted - held.released;
}

void BenchApp::settle(std::chrono::milliseconds quiet) {
    test::waitUntil([&] { return !hud_->panelVisible(); }, 15s);
    test::waitUntil([] { return false; }, quiet);
}

bool BenchApp::fail(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", bench_, why.c_str());
    if (app_) {
        std::fprintf(stderr, "%s", app_->log().c_str());
    }
    return false;
}

} // namespace vozmo::bench
