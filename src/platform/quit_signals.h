#pragma once

#include <functional>

namespace vozmo {

// Turns SIGTERM, SIGINT and SIGHUP into a call of `onQuit` on the main thread, so every way
// the desktop session asks us to end goes through the same clean exit path.
// Call once, from the main thread, after the application object exists.
void installQuitSignals(std::function<void()> onQuit);

} // namespace vozmo
