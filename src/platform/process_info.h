#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace vozmo {

// What tells one process apart from a later one that got the same pid: its start time since
// boot (clock ticks) and the boot it belongs to.
struct ProcessIdentity {
    pid_t pid = 0;
    uid_t uid = 0;
    std::uint64_t startTicks = 0;
    std::string bootId;
    std::string name; // the kernel's short command name

    bool sameProcessAs(const ProcessIdentity& other) const {
        return pid == other.pid && startTicks == other.startTicks && bootId == other.bootId;
    }
};

// The identity of a running process, or absent when it does not exist (or has ended).
std::optional<ProcessIdentity> processIdentity(pid_t pid);

// Whether some thread of the process still runs. A multi-threaded server whose main thread has
// ended shows as a zombie while its other threads still hold its sockets open.
bool anyThreadRunning(const ProcessIdentity& process);

enum class PortHolder {
    none,  // nothing listens on the port
    ours,  // every listening socket is an open file of the given process (or of a child of it)
    other, // something else listens there, alone or beside it
};

// Who listens on the TCP port of the loopback or any address (IPv4 and IPv6).
PortHolder portHolder(int port, pid_t expected);

} // namespace vozmo
