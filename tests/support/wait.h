#pragma once

#include <chrono>
#include <functional>

namespace vozmo::test {

// Runs the Qt event loop (when there is one) until `condition` holds or `limit` passes; true
// when it held. Generous limits keep a loaded machine from failing a test.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(60));

// Runs the event loop for `time`, for checks that something does not happen.
void pumpFor(std::chrono::milliseconds time);

} // namespace vozmo::test
