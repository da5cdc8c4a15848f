#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// Physical cores this process may run on, read from the kernel's CPU topology under `cpuRoot`
// (normally /sys/devices/system/cpu): hyper-threads of one core count once, and CPUs that are
// not `allowed` (outside the process's affinity mask) not at all. Falls back to the logical CPU
// count, and is never below 1. The inference servers run one thread per physical core: a second
// thread on a sibling only competes for the same vector units.
int physicalCoresIn(const std::filesystem::path& cpuRoot, const std::function<bool(int)>& allowed);
int physicalCores();

// Whether the machine has a GPU the servers can compute on: an NVIDIA device node, or a
// Vulkan driver manifest beside a render node. Reads files only (no driver is loaded).
bool gpuPresentIn(const std::filesystem::path& root);
bool gpuPresent();

// The servers' command lines, without the program itself.
std::vector<std::string> whisperServerArguments(const std::filesystem::path& model, int port,
                                                int threads);
std::vector<std::string> llamaServerArguments(const std::filesystem::path& model, int port,
                                              int threads);

// A program and its argument vector.
struct ServerCommand {
    std::string executable;
    std::vector<std::string> arguments;
};

// Runs `executable` at a lower processor priority through `nice` (which replaces itself with
// the program, so the process id stays the program's); unchanged when `nice` is not installed.
ServerCommand lowPriority(const std::string& executable, std::vector<std::string> arguments,
                          const std::optional<std::filesystem::path>& nice);

// Identity of a model file at launch time, so a replaced file is noticed.
struct FileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = -1;
    long long modified = 0; // nanoseconds
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStamp(const std::filesystem::path& file);

} // namespace vozmo
