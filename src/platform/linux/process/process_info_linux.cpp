#include "process_info.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vozmo {

namespace {

std::string bootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// Inodes of the sockets listening on `port` in one of /proc/net/tcp{,6}.
void listeningInodes(const char* table, int port, std::set<unsigned long>& inodes) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode)) {
            continue;
        }
        constexpr const char* kListen = "0A";
        auto colon = local.rfind(':');
        if (state != kListen || colon == std::string::npos) {
            continue;
        }
        unsigned long localPort = 0;
        try {
            localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
        } catch (...) {
            continue;
        }
        if (localPort == static_cast<unsigned long>(port)) {
            inodes.insert(inode);
        }
    }
}

// Adds to `held` those of `inodes` that are open files of the process.
void collectHeld(pid_t pid, const std::set<unsigned long>& inodes, std::set<unsigned long>& held) {
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(fdDir.c_str());
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        char target[64];
        const std::string link = fdDir + "/" + entry->d_name;
        ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0) {
            continue;
        }
        target[length] = '\0';
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1 && inodes.count(inode) > 0) {
            held.insert(inode);
        }
    }
    ::closedir(dir);
}

// The processes below `root`: a server may be started through a wrapper that forks.
std::vector<pid_t> descendants(pid_t root) {
    std::map<pid_t, std::vector<pid_t>> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return {};
    }
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') {
            continue;
        }
        std::ifstream in("/proc/" + std::string(entry->d_name) + "/stat");
        std::string stat;
        std::getline(in, stat);
        auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        long parent = 0;
        if (rest >> state >> parent) {
            children[static_cast<pid_t>(parent)].push_back(static_cast<pid_t>(pid));
        }
    }
    ::closedir(proc);
    std::vector<pid_t> found;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        pid_t next = pending.back();
        pending.pop_back();
        for (pid_t child : children[next]) {
            found.push_back(child);
            pending.push_back(child);
        }
    }
    return found;
}

} // namespace

std::optional<ProcessIdentity> processIdentity(pid_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    const std::string dir = "/proc/" + std::to_string(pid);
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0) {
        return std::nullopt;
    }
    std::ifstream in(dir + "/stat");
    std::string stat;
    std::getline(in, stat);
    // The name sits in parentheses and may itself hold blanks and parentheses.
    auto open = stat.find('(');
    auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return std::nullopt;
    }
    ProcessIdentity identity;
    identity.pid = pid;
    identity.uid = info.st_uid;
    identity.name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    // After the name: state is field 3, starttime field 22.
    for (int number = 3; number <= 22 && rest >> field; ++number) {
        if (number == 3 && field == "Z") {
            return std::nullopt; // ended, not yet reaped
        }
        if (number == 22) {
            try {
                identity.startTicks = std::stoull(field);
            } catch (...) {
                return std::nullopt;
            }
            identity.bootId = bootId();
            return identity;
        }
    }
    return std::nullopt;
}

PortHolder portHolder(int port, pid_t expected) {
    std::set<unsigned long> inodes;
    listeningInodes("/proc/net/tcp", port, inodes);
    listeningInodes("/proc/net/tcp6", port, inodes);
    if (inodes.empty()) {
        return PortHolder::none;
    }
    if (expected <= 0) {
        return PortHolder::other;
    }
    // Every listening socket: with SO_REUSEPORT a second process of the same user may listen
    // beside ours and be handed some of the connections.
    std::set<unsigned long> held;
    collectHeld(expected, inodes, held);
    if (held.size() < inodes.size()) {
        for (pid_t child : descendants(expected)) {
            collectHeld(child, inodes, held);
        }
    }
    return held.size() == inodes.size() ? PortHolder::ours : PortHolder::other;
}

bool anyThreadRunning(const ProcessIdentity& process) {
    if (processIdentity(process.pid).has_value()) {
        return true;
    }
    // The leader has ended or is gone. Its starttime tells whether the pid is still the same
    // process; then its other threads are listed under task/.
    const std::string dir = "/proc/" + std::to_string(process.pid);
    DIR* tasks = ::opendir((dir + "/task").c_str());
    if (tasks == nullptr) {
        return false;
    }
    bool running = false;
    while (dirent* entry = ::readdir(tasks)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == std::to_string(process.pid)) {
            continue;
        }
        std::ifstream in(dir + "/task/" + name + "/stat");
        std::string stat;
        std::getline(in, stat);
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        if (rest >> state && state != "Z" && state != "X") {
            running = true;
            break;
        }
    }
    ::closedir(tasks);
    if (!running) {
        return false;
    }
    // Make sure the pid was not reused by a new process meanwhile.
    std::ifstream in(dir + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream rest(stat.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22 && rest >> field; ++number) {
        if (number == 22) {
            return field == std::to_string(process.startTicks);
        }
    }
    return false;
}

} // namespace vozmo
