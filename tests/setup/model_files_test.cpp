#include "model_files.h"

#include "model_catalog.h"
#include "prefs.h"

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
    EXPECT_EQ(fileSize(config().whisperModelPath), 0);
    makeSized(config().whisperModelPath, 1234);
    EXPECT_EQ(fileSize(config().whisperModelPath), 1234);
    EXPECT_EQ(fileSize(config().modelsDir), 0); // a folder is no model
    std::filesystem::create_symlink(config().whisperModelPath, config().modelsDir / "link.bin");
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
            makeSized(config().whisperModelPath, c.whisper);
        }
        if (c.llm >= 0) {
            makeSized(config().llmModelPath, c.llm);
        }
        EXPECT_EQ(modelsPresent(), c.present) << c.what;
    }
    EXPECT_TRUE(modelsPresent({}));
}

TEST(ModelFiles, AnotherModelsFileUnderTheSameNameIsMissing) {
    test::TempHome home;
    const ModelSpec spec{"Whisper", "https://models.example/small.bin", config().whisperModelPath,
                         100};
    const struct {
        const char* what;
        std::int64_t size;
        const char* source; // nullptr: no record
        bool installed;
    } cases[] = {
        {"ours", 100, "https://models.example/small.bin", true},
        {"placed there by hand", 100, nullptr, true},
        {"another model's", 5000, "https://models.example/large.bin", false},
        {"ours but short", 99, "https://models.example/small.bin", false},
    };
    for (const auto& c : cases) {
        makeSized(spec.dest, c.size);
        recordModelSource(spec.dest, c.source ? c.source : "");
        EXPECT_EQ(modelInstalled(spec), c.installed) << c.what;
        EXPECT_EQ(modelsPresent({spec}), c.installed) << c.what;
    }
}

TEST(ModelCatalogue, TwoVersionsOfEachModelUnderTheSameFileNames) {
    test::TempHome home;
    const auto options = modelOptions();
    ASSERT_EQ(options.size(), 4u);
    for (ModelRole role : {ModelRole::speech, ModelRole::polish}) {
        const auto& fast = modelOption(options, role, ModelTier::fast);
        const auto& accurate = modelOption(options, role, ModelTier::accurate);
        EXPECT_EQ(fast.spec.dest, accurate.spec.dest);
        EXPECT_NE(fast.spec.url, accurate.spec.url);
        // A fast file never passes for the accurate one by its size alone.
        EXPECT_LT(fast.spec.minBytes, accurate.spec.minBytes);
    }
    EXPECT_EQ(modelOption(options, ModelRole::speech, ModelTier::accurate).spec.url,
              config().modelSpecs[0].url);
    EXPECT_EQ(modelOption(options, ModelRole::polish, ModelTier::accurate).spec.url,
              config().modelSpecs[1].url);
}

TEST(ModelCatalogue, DefaultFollowsTheMachine) {
    const struct {
        int cores;
        bool gpu;
        ModelTier tier;
    } cases[] = {
        {1, false, ModelTier::fast},    {2, false, ModelTier::fast},
        {6, false, ModelTier::fast},    {8, false, ModelTier::accurate},
        {2, true, ModelTier::accurate}, {16, true, ModelTier::accurate},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaultTier({c.cores, c.gpu}), c.tier) << c.cores << " cores, gpu " << c.gpu;
    }
}

TEST(ModelCatalogue, ChoiceComesFromThePreferenceThenTheFileInPlace) {
    const MachineFacts twoCores{2, false};
    // The speech model's spec in the private home of the moment.
    auto speech = [](ModelTier tier) {
        return modelOption(modelOptions(), ModelRole::speech, tier).spec;
    };
    {
        test::TempHome home;
        EXPECT_EQ(chosenTier(ModelRole::speech, twoCores), ModelTier::fast);
        EXPECT_EQ(chosenTier(ModelRole::speech, {2, true}), ModelTier::accurate);
    }
    {
        // Installed before there was a choice: the accurate model stays until the user picks.
        test::TempHome home;
        const auto accurate = speech(ModelTier::accurate);
        makeSized(accurate.dest, accurate.minBytes);
        makeSized(config().llmModelPath, 1000); // a small file of the user's own
        adoptUnrecordedModels();
        EXPECT_EQ(modelSource(accurate.dest), accurate.url);
        EXPECT_FALSE(modelSource(config().llmModelPath));
        EXPECT_EQ(chosenTier(ModelRole::speech, twoCores), ModelTier::accurate);
        EXPECT_TRUE(modelInstalled(accurate));
        // Choosing the fast one makes the file in place a missing one.
        chooseTier(ModelRole::speech, ModelTier::fast);
        EXPECT_EQ(chosenTier(ModelRole::speech, twoCores), ModelTier::fast);
        EXPECT_FALSE(modelsPresent({chosenModelSpecs()[0]}));
        EXPECT_FALSE(usableModelsPresent()); // the language model is too small
    }
    {
        test::TempHome home;
        const auto fast = speech(ModelTier::fast);
        makeSized(fast.dest, fast.minBytes);
        recordModelSource(fast.dest, fast.url);
        EXPECT_EQ(chosenTier(ModelRole::speech, {16, true}), ModelTier::fast);
        // A stored choice the program does not know reads as none.
        Prefs::setBool("speechModel", true);
        EXPECT_EQ(chosenTier(ModelRole::speech, {16, true}), ModelTier::fast);
    }
}

} // namespace
} // namespace vozmo
