#pragma once

namespace vozmo {

// The headless end-to-end run. Runs on a worker thread; returns the process's exit status.
int runSelfTest();

} // namespace vozmo
