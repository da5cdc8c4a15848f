#pragma once

#include "target_window.h"

namespace vozmo::test {

// Answers with whatever window the test puts in front.
class FakeTargetWindow : public TargetWindow {
public:
    std::optional<TargetApp> front;
    std::optional<TargetApp> focused() override { return front; }
};

} // namespace vozmo::test
