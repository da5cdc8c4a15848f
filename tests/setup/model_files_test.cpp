#include "model_files.h"

#include "model_catalog.h"
#include "prefs.h"

#include "temp_home.h"

#include <gtest/gtest.h>

#include <atomic>
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

TEST(ModelFiles, AFileRecordedAtAnotherRevisionOfTheSameFileIsOurs) {
    const std::string pinned = "https://huggingface.co/ggerganov/whisper.cpp/resolve/"
                               "0b364b566045a405be7225ee1e415a073e04da77/ggml-small-q8_0.bin";
    const struct {
        const char* recorded;
        bool same;
    } cases[] = {
        {"https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-small-q8_0.bin", true},
        {"https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-large-v3-turbo-q8_0.bin",
         false},
        {"https://huggingface.co/someone/whisper.cpp/resolve/main/ggml-small-q8_0.bin", false},
        {"https://mirror.example/ggerganov/whisper.cpp/resolve/main/ggml-small-q8_0.bin", false},
        {"http://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-small-q8_0.bin", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameModelSource(c.recorded, pinned), c.same) << c.recorded;
    }
    // Installed by an older version, which recorded "main": still installed, not fetched again.
    test::TempHome home;
    const ModelSpec spec{"Whisper", pinned, config().whisperModelPath, 100};
    makeSized(spec.dest, 100);
    recordModelSource(spec.dest, cases[0].recorded);
    EXPECT_TRUE(modelInstalled(spec));
}

TEST(ModelFiles, Sha256OfFilesAndPieces) {
    test::TempHome home;
    const auto file = config().modelsDir / "sample";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "abcdef";
    std::atomic<bool> cancel{false};
    const struct {
        std::int64_t length;
        bool read;
        const char* sha256; // of the first `length` bytes
    } cases[] = {
        {0, true, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {3, true, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {7, false, nullptr}, // the file is shorter than that
    };
    for (const auto& c : cases) {
        Sha256 sum;
        EXPECT_EQ(addFileToSum(sum, file, c.length, cancel), c.read) << c.length;
        if (c.sha256) {
            EXPECT_EQ(sum.hex(), c.sha256) << c.length;
        }
    }
    // Piece by piece gives the same sum as all at once.
    Sha256 pieces;
    pieces.add("ab", 2);
    pieces.add("c", 1);
    EXPECT_EQ(pieces.hex(), cases[1].sha256);
    cancel = true;
    Sha256 cancelled;
    EXPECT_FALSE(addFileToSum(cancelled, file, 3, cancel));
}

TEST(ModelCatalogue, EveryFileIsAFixedRevisionWithItsHashAndSize) {
    test::TempHome home;
    for (const auto& option : modelOptions()) {
        const ModelSpec& spec = option.spec;
        SCOPED_TRACE(option.title);
        // https://huggingface.co/OWNER/REPO/resolve/<40 hex digits>/FILE
        const std::string prefix = "https://huggingface.co/";
        ASSERT_TRUE(spec.url.starts_with(prefix));
        const auto resolve = spec.url.find("/resolve/");
        ASSERT_NE(resolve, std::string::npos);
        const std::string revision = spec.url.substr(resolve + 9, 40);
        EXPECT_EQ(revision.find_first_not_of("0123456789abcdef"), std::string::npos) << revision;
        EXPECT_EQ(spec.url.at(resolve + 9 + 40), '/');
        EXPECT_EQ(spec.sha256.size(), 64u);
        EXPECT_EQ(spec.sha256.find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_GE(spec.bytes, spec.minBytes);
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
