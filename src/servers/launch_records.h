#pragma once

#include "process_info.h"

#include <string_view>
#include <sys/types.h>

namespace vozmo {

// Each launched server leaves a record "<name>-<pid>" in the runtime folder, holding its own
// start time and that of the Vozmo that launched it, so a later run can tell a leftover of a
// dead run from the servers of a live one, and either from an unrelated process that reuses the
// pid.
void writeLaunchRecord(std::string_view name, const ProcessIdentity& server);
void removeLaunchRecord(std::string_view name, pid_t pid);

// A server that another Vozmo of this user, running now, launched.
bool anotherRunsServers();

// Ends the servers that a Vozmo of this user launched and that outlived it, and waits until
// every thread of each has ended (so its port is free); never touches any other process.
void sweepLeftoverServers();

} // namespace vozmo
