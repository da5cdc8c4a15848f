#pragma once

#include "notifier.h"

#include <vector>

namespace vozmo::test {

// Records the notifications instead of showing them.
class FakeNotifier : public Notifier {
public:
    std::vector<Notification> shown;
    void notify(const Notification& notification) override { shown.push_back(notification); }
};

} // namespace vozmo::test
