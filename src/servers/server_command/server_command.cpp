#include "server_command.h"

#include <fstream>
#include <sched.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace vozmo {

namespace {

// Lower than everything the desktop runs by default, so the speech server (and the user's
// programs) win the cores while the language model warms up or polishes.
constexpr int kLanguageModelNiceness = 10;

std::optional<long> readNumber(const std::filesystem::path& file) {
    std::ifstream in(file);
    long value = 0;
    if (in >> value) {
        return value;
    }
    return std::nullopt;
}

bool isCpuFolder(const std::string& name) {
    // Longer numbers are no CPU of this world, and would not fit a long.
    if (name.size() <= 3 || name.size() > 12 || name.compare(0, 3, "cpu") != 0) {
        return false;
    }
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return true;
}

bool anyEntryStartingWith(const std::filesystem::path& folder, const std::string& prefix) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

int physicalCoresIn(const std::filesystem::path& cpuRoot, const std::function<bool(int)>& allowed) {
    std::set<std::pair<long, long>> cores;
    int logical = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(cpuRoot, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isCpuFolder(name)) {
            continue;
        }
        const long index = std::stol(name.substr(3));
        if (allowed && !allowed(static_cast<int>(index))) {
            continue;
        }
        // An offline CPU has online = 0 (cpu0 often has no such file: it cannot go offline).
        if (readNumber(it->path() / "online").value_or(1) == 0) {
            continue;
        }
        ++logical;
        const auto package = readNumber(it->path() / "topology" / "physical_package_id");
        const auto core = readNumber(it->path() / "topology" / "core_id");
        // Without topology every CPU counts as its own core.
        cores.emplace(package.value_or(-1 - index), core.value_or(index));
    }
    if (!cores.empty()) {
        return static_cast<int>(cores.size());
    }
    if (logical > 0) {
        return logical;
    }
    const unsigned int hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

int physicalCores() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) != 0) {
        return physicalCoresIn("/sys/devices/system/cpu", {});
    }
    return physicalCoresIn("/sys/devices/system/cpu",
                           [&mask](int cpu) { return cpu < CPU_SETSIZE && CPU_ISSET(cpu, &mask); });
}

bool gpuPresentIn(const std::filesystem::path& root) {
    if (anyEntryStartingWith(root / "dev", "nvidia")) {
        return true;
    }
    const bool renderNode = anyEntryStartingWith(root / "dev" / "dri", "renderD");
    if (!renderNode) {
        return false;
    }
    // Mesa's lavapipe is a Vulkan driver that computes on the processor: not a GPU.
    for (const char* folder : {"usr/share/vulkan/icd.d", "etc/vulkan/icd.d"}) {
        std::error_code ec;
        std::filesystem::directory_iterator it(root / folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.ends_with(".json") && name.find("lvp") == std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

bool gpuPresent() {
    return gpuPresentIn("/");
}

std::vector<std::string> whisperServerArguments(const std::filesystem::path& model, int port,
                                                int threads) {
    // Flash attention is on by default in current whisper-server; turning it off costs more
    // than twice the time on a processor.
    return {"-m", model.string(),          "--host", "127.0.0.1", "--port", std::to_string(port),
            "-t", std::to_string(threads), "-l",     "es"};
}

std::vector<std::string> llamaServerArguments(const std::filesystem::path& model, int port,
                                              int threads) {
    return {"-m",     model.string(),
            "--host", "127.0.0.1",
            "--port", std::to_string(port),
            "-t",     std::to_string(threads),
            "-ngl",   "99",
            "-c",     "4096",
            "-np",    "1",
            "--jinja"};
}

ServerCommand lowPriority(const std::string& executable, std::vector<std::string> arguments,
                          const std::optional<std::filesystem::path>& nice) {
    if (!nice) {
        return {executable, std::move(arguments)};
    }
    std::vector<std::string> niced = {"-n", std::to_string(kLanguageModelNiceness), executable};
    niced.insert(niced.end(), std::make_move_iterator(arguments.begin()),
                 std::make_move_iterator(arguments.end()));
    return {nice->string(), std::move(niced)};
}

std::optional<FileStamp> fileStamp(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileStamp{
        static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino),
        static_cast<long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

} // namespace vozmo
