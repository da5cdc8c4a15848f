#pragma once

namespace vozmo {

// What waiting for the speech server to become ready came to.
enum class ServerWait {
    ready,
    notLaunched, // its program or model is missing, or it was never started
    portBusy,    // another program holds its port
    gaveUp,      // it will not come up in this run
    stopped,     // the wait or the servers were stopped
    timedOut,
};

} // namespace vozmo
