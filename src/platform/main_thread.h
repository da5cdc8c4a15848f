#pragma once

#include <functional>

namespace vozmo {

// Runs `work` on the Qt main thread at the next turn of its event loop. Callable from any
// thread; does nothing when there is no application object (it is being torn down).
void postToMain(std::function<void()> work);

// Runs `work` on the main thread after `seconds` (one-shot, main thread only).
void runAfter(double seconds, std::function<void()> work);

} // namespace vozmo
