#include "server_command.h"

#include "temp_home.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace vozmo {
namespace {

namespace fs = std::filesystem;

// A /sys/devices/system/cpu of its own: cpuN → {package, core}, -1 leaves the file out.
struct Cpu {
    int package;
    int core;
    int online = 1; // -1: no "online" file, as for cpu0
};

fs::path cpuTree(const fs::path& root, const std::map<int, Cpu>& cpus) {
    for (const auto& [index, cpu] : cpus) {
        const fs::path folder = root / ("cpu" + std::to_string(index));
        fs::create_directories(folder / "topology");
        if (cpu.package >= 0) {
            test::writeFile(folder / "topology" / "physical_package_id",
                            std::to_string(cpu.package) + "\n");
        }
        if (cpu.core >= 0) {
            test::writeFile(folder / "topology" / "core_id", std::to_string(cpu.core) + "\n");
        }
        if (cpu.online >= 0) {
            test::writeFile(folder / "online", std::to_string(cpu.online) + "\n");
        }
    }
    // Siblings that are no CPU folders.
    fs::create_directories(root / "cpufreq");
    fs::create_directories(root / "cpuidle");
    test::writeFile(root / "online", "0-3\n");
    return root;
}

TEST(PhysicalCores, HyperThreadsOfOneCoreCountOnce) {
    const struct {
        const char* what;
        std::map<int, Cpu> cpus;
        std::function<bool(int)> allowed;
        int cores;
    } cases[] = {
        {"two cores, two threads each",
         {{0, {0, 0, -1}}, {1, {0, 1}}, {2, {0, 0}}, {3, {0, 1}}},
         {},
         2},
        {"two packages with the same core numbers",
         {{0, {0, 0, -1}}, {1, {0, 1}}, {2, {1, 0}}, {3, {1, 1}}},
         {},
         4},
        {"an offline CPU", {{0, {0, 0, -1}}, {1, {0, 1}}, {2, {0, 2, 0}}}, {}, 2},
        {"outside the affinity mask",
         {{0, {0, 0, -1}}, {1, {0, 1}}, {2, {0, 2}}, {3, {0, 3}}},
         [](int cpu) { return cpu >= 2; },
         2},
        {"no topology: each CPU its own core",
         {{0, {-1, -1, -1}}, {1, {-1, -1}}, {2, {-1, -1}}},
         {},
         3},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        const fs::path root = cpuTree(home.path() / "cpu", c.cpus);
        EXPECT_EQ(physicalCoresIn(root, c.allowed), c.cores) << c.what;
    }
    // Nothing readable: the logical count, never zero.
    EXPECT_GE(physicalCoresIn("/nonexistent", {}), 1);
    EXPECT_GE(physicalCores(), 1);
    EXPECT_LE(physicalCores(), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

TEST(GpuPresent, ADeviceThatComputes) {
    const struct {
        const char* what;
        std::vector<std::string> files;
        bool gpu;
    } cases[] = {
        {"nothing", {}, false},
        {"an NVIDIA device", {"dev/nvidia0", "dev/nvidiactl"}, true},
        {"a Vulkan driver and a render node",
         {"dev/dri/renderD128", "usr/share/vulkan/icd.d/radeon_icd.x86_64.json"},
         true},
        {"a driver listed under /etc",
         {"dev/dri/renderD128", "etc/vulkan/icd.d/intel_icd.json"},
         true},
        {"the processor's own Vulkan driver",
         {"dev/dri/renderD128", "usr/share/vulkan/icd.d/lvp_icd.x86_64.json"},
         false},
        {"a driver without a render node",
         {"usr/share/vulkan/icd.d/radeon_icd.x86_64.json"},
         false},
        {"a render node without a driver", {"dev/dri/renderD128", "dev/dri/card0"}, false},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        const fs::path root = home.path() / "machine";
        fs::create_directories(root);
        for (const auto& file : c.files) {
            fs::create_directories((root / file).parent_path());
            test::writeFile(root / file, "");
        }
        EXPECT_EQ(gpuPresentIn(root), c.gpu) << c.what;
    }
}

TEST(ServerCommand, ThreadsAndPriority) {
    EXPECT_EQ(whisperServerArguments("/m/whisper.bin", 8178, 6),
              (std::vector<std::string>{"-m", "/m/whisper.bin", "--host", "127.0.0.1", "--port",
                                        "8178", "-t", "6", "-l", "es"}));
    EXPECT_EQ(
        llamaServerArguments("/m/llm.gguf", 8179, 2),
        (std::vector<std::string>{"-m", "/m/llm.gguf", "--host", "127.0.0.1", "--port", "8179",
                                  "-t", "2", "-ngl", "99", "-c", "4096", "-np", "1", "--jinja"}));

    const auto niced = lowPriority("/bin/llama-server", {"-m", "x"}, fs::path("/usr/bin/nice"));
    EXPECT_EQ(niced.executable, "/usr/bin/nice");
    EXPECT_EQ(niced.arguments,
              (std::vector<std::string>{"-n", "10", "/bin/llama-server", "-m", "x"}));
    const auto plain = lowPriority("/bin/llama-server", {"-m", "x"}, std::nullopt);
    EXPECT_EQ(plain.executable, "/bin/llama-server");
    EXPECT_EQ(plain.arguments, (std::vector<std::string>{"-m", "x"}));
}

TEST(ServerCommand, FileStampNoticesAReplacedFile) {
    test::TempHome home;
    const fs::path model = home.path() / "whisper.bin";
    EXPECT_FALSE(fileStamp(model));
    test::writeFile(model, "accurate");
    const auto first = fileStamp(model);
    ASSERT_TRUE(first);
    EXPECT_EQ(fileStamp(model), first);
    // Renamed over it, as a finished download is: same size, other file.
    test::writeFile(home.path() / "part", "fastest!");
    fs::rename(home.path() / "part", model);
    EXPECT_NE(fileStamp(model), first);
}

} // namespace
} // namespace vozmo
