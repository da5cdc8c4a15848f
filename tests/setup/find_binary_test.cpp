#include "find_binary.h"

#include "temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace vozmo {
namespace {

namespace fs = std::filesystem;

void makeProgram(const fs::path& file, bool executable = true) {
    test::writeFile(file, "#!/bin/sh\n");
    ::chmod(file.c_str(), executable ? 0755 : 0644);
}

TEST(FindBinary, SearchFoldersInOrder) {
    auto folders = binarySearchFolders("/opt/vozmo", "/a:relative:/b::/c/", "/home/u");
    std::vector<fs::path> expected = {
        "/opt/vozmo/bin", "/a", "/b", "/c/", "/home/u/.local/bin", "/usr/local/bin", "/usr/bin"};
    EXPECT_EQ(folders, expected);
    // Without an executable folder, PATH or HOME only the fixed folders remain.
    EXPECT_EQ(binarySearchFolders("", "", ""),
              (std::vector<fs::path>{"/usr/local/bin", "/usr/bin"}));
}

TEST(FindBinary, FirstExecutableFileWins) {
    test::TempHome home;
    const fs::path root = home.path();
    const std::vector<fs::path> folders = {root / "exe" / "bin", root / "p1", root / "p2",
                                           root / ".local" / "bin"};
    struct Case {
        const char* what;
        std::vector<std::pair<int, bool>> programs; // folder index, executable
        int expected;                               // folder index, -1: none
    };
    const Case cases[] = {
        {"nowhere", {}, -1},
        {"beside the executable before PATH", {{0, true}, {1, true}}, 0},
        {"PATH in order", {{1, true}, {2, true}}, 1},
        {"a non-executable file is skipped", {{1, false}, {2, true}}, 2},
        {"~/.local/bin last", {{3, true}}, 3},
        {"only non-executable", {{1, false}}, -1},
    };
    for (const auto& c : cases) {
        fs::remove_all(root / "exe");
        fs::remove_all(root / "p1");
        fs::remove_all(root / "p2");
        fs::remove_all(root / ".local");
        for (auto [index, executable] : c.programs) {
            makeProgram(folders[static_cast<size_t>(index)] / "whisper-server", executable);
        }
        auto found = findBinaryIn("whisper-server", folders);
        if (c.expected < 0) {
            EXPECT_FALSE(found) << c.what;
        } else {
            EXPECT_EQ(found, folders[static_cast<size_t>(c.expected)] / "whisper-server") << c.what;
        }
    }
    // A folder with the program's name is not the program.
    fs::create_directories(root / "p1" / "llama-server");
    EXPECT_FALSE(findBinaryIn("llama-server", folders));
    // Names that would escape the folders find nothing.
    makeProgram(root / "p1" / "tool");
    for (const char* name : {"", ".", "..", "../p1/tool", "/bin/sh"}) {
        EXPECT_FALSE(findBinaryIn(name, folders)) << name;
    }
}

TEST(FindBinary, UsesPathAndHomeOfTheProcess) {
    test::TempHome home;
    const char* saved = std::getenv("PATH");
    std::string oldPath = saved ? saved : "";
    const fs::path p1 = home.path() / "p1";
    const fs::path p2 = home.path() / "p2";
    makeProgram(p2 / "vozmo-test-tool");
    makeProgram(home.path() / ".local" / "bin" / "vozmo-test-tool");
    ::setenv("PATH", (p1.string() + ":" + p2.string()).c_str(), 1);
    EXPECT_EQ(findBinary("vozmo-test-tool"), p2 / "vozmo-test-tool");
    ::setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(findBinary("vozmo-test-tool"), home.path() / ".local" / "bin" / "vozmo-test-tool");
    ::setenv("PATH", oldPath.c_str(), 1);
}

} // namespace
} // namespace vozmo
