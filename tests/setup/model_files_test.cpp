#include "model_files.h"

#include "temp_home.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vozmo {
namespace {

// A file of `size` bytes without writing them: the tests only need what stat reports.
void makeSized(const std::filesystem::path& file, std::int64_t size) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file).close();
    std::filesystem::resize_file(file, static_cast<std::uintmax_t>(size));
}

TEST(ModelFiles, FileSizeOfMissingFoldersAndFiles) {
    test::TempHome home;
    EXPECT_EQ(fileSize(config().whisperModelURL), 0);
    makeSized(config().whisperModelURL, 1234);
    EXPECT_EQ(fileSize(config().whisperModelURL), 1234);
    EXPECT_EQ(fileSize(config().modelsDir), 0); // a folder is no model
    std::filesystem::create_symlink(config().whisperModelURL, config().modelsDir / "link.bin");
    EXPECT_EQ(fileSize(config().modelsDir / "link.bin"), 1234);
}

TEST(ModelFiles, PresentOnlyWhenEveryFileReachesItsMinimum) {
    struct Case {
        const char* what;
        std::int64_t whisper; // -1: no file
        std::int64_t llm;
        bool present;
    };
    const Case cases[] = {
        {"no models folder", -1, -1, false},
        {"both larger", 900000000, 2500000000, true},
        {"both exactly the minimum", 800000000, 2000000000, true},
        {"speech model one byte short", 799999999, 2500000000, false},
        {"language model empty", 900000000, 0, false},
        {"language model missing", 900000000, -1, false},
    };
    for (const auto& c : cases) {
        test::TempHome home;
        if (c.whisper >= 0) {
            makeSized(config().whisperModelURL, c.whisper);
        }
        if (c.llm >= 0) {
            makeSized(config().llmModelURL, c.llm);
        }
        EXPECT_EQ(modelsPresent(), c.present) << c.what;
    }
    EXPECT_TRUE(modelsPresent({}));
}

} // namespace
} // namespace vozmo
