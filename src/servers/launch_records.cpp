#include "launch_records.h"

#include "config.h"
#include "log.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSweepGrace = std::chrono::seconds(3);

std::filesystem::path recordsDir() {
    return config().runtimeDir / "servers";
}

std::filesystem::path recordFile(std::string_view name, pid_t pid) {
    return recordsDir() / (std::string(name) + "-" + std::to_string(pid));
}

struct LaunchRecord {
    std::filesystem::path file;
    ProcessIdentity server;
    ProcessIdentity owner;
};

std::vector<LaunchRecord> readRecords() {
    std::vector<LaunchRecord> records;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(recordsDir(), ec)) {
        const std::string fileName = entry.path().filename().string();
        const auto dash = fileName.rfind('-');
        LaunchRecord record;
        record.file = entry.path();
        std::ifstream in(entry.path());
        try {
            record.server.pid = dash == std::string::npos
                                    ? 0
                                    : static_cast<pid_t>(std::stol(fileName.substr(dash + 1)));
        } catch (...) {
            record.server.pid = 0;
        }
        if (!(in >> record.server.startTicks >> record.owner.pid >> record.owner.startTicks >>
              record.server.bootId)) {
            record.server.pid = 0;
        }
        record.owner.bootId = record.server.bootId;
        records.push_back(std::move(record));
    }
    return records;
}

bool alive(const ProcessIdentity& recorded) {
    auto now = processIdentity(recorded.pid);
    return now && now->sameProcessAs(recorded) && now->uid == ::getuid();
}

} // namespace

void writeLaunchRecord(std::string_view name, const ProcessIdentity& server) {
    auto self = processIdentity(::getpid());
    if (!self) {
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(recordsDir(), ec);
    std::filesystem::permissions(config().runtimeDir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    std::ofstream out(recordFile(name, server.pid), std::ios::trunc);
    out << server.startTicks << ' ' << self->pid << ' ' << self->startTicks << ' ' << server.bootId
        << '\n';
}

void removeLaunchRecord(std::string_view name, pid_t pid) {
    std::error_code ec;
    std::filesystem::remove(recordFile(name, pid), ec);
}

bool anotherRunsServers() {
    for (const auto& record : readRecords()) {
        if (record.server.pid > 0 && record.owner.pid != ::getpid() && alive(record.owner) &&
            alive(record.server)) {
            return true;
        }
    }
    return false;
}

void sweepLeftoverServers() {
    for (const auto& record : readRecords()) {
        if (record.server.pid <= 0) {
            std::error_code ec;
            std::filesystem::remove(record.file, ec);
            continue;
        }
        if (alive(record.owner)) {
            continue; // the servers of a run that is still going
        }
        if (alive(record.server)) {
            log("Se cierra un servidor que dejó una ejecución anterior (pid " +
                std::to_string(record.server.pid) + ")");
            // Until its last thread has ended it may still hold its port, and the new server
            // would find the port taken.
            const auto waitForEnd = [&](auto limit) {
                const auto until = Clock::now() + limit;
                while (anyThreadRunning(record.server) && Clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            };
            ::kill(record.server.pid, SIGTERM);
            waitForEnd(kSweepGrace);
            if (anyThreadRunning(record.server)) {
                ::kill(record.server.pid, SIGKILL);
                waitForEnd(std::chrono::seconds(1));
            }
        }
        std::error_code ec;
        std::filesystem::remove(record.file, ec);
    }
}

} // namespace vozmo
