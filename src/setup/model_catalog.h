#pragma once

#include "config.h"

#include <string>
#include <vector>

namespace vozmo {

// The two models Vozmo runs, and the two versions it offers of each. The file names never
// change (models/whisper.bin, models/llm.gguf): the choice says which file belongs there.
enum class ModelRole { speech, polish };
enum class ModelTier { fast, accurate };

struct ModelOption {
    ModelRole role;
    ModelTier tier;
    std::string title;      // "Rápido · Whisper small"
    std::string size;       // "260 MB"
    std::string speedClass; // what to expect on a processor without a GPU, in Spanish
    ModelSpec spec;
};

// The catalogue: for each role, the fast option first, then the accurate one.
std::vector<ModelOption> modelOptions();
const ModelOption& modelOption(const std::vector<ModelOption>& options, ModelRole role,
                               ModelTier tier);

// The machine facts the default depends on.
struct MachineFacts {
    int physicalCores = 1;
    bool gpu = false;
};
MachineFacts machineFacts();

// Accurate models where they answer within a few seconds: a GPU, or at least eight physical
// cores (four times the speed of the two-core machines the fast models are sized for).
ModelTier defaultTier(const MachineFacts& facts);

// The user's choice ("speechModel" / "polishModel" in the preferences); without one, the
// version whose file is already in place, else defaultTier().
ModelTier chosenTier(ModelRole role, const MachineFacts& facts);
ModelTier chosenTier(ModelRole role);
void chooseTier(ModelRole role, ModelTier tier);

// The model files of the current choice, speech first.
std::vector<ModelSpec> chosenModelSpecs();

// Every role has a complete model file of one of its versions in place: the servers can run,
// even while a newly chosen version is still being fetched.
bool usableModelsPresent();

// Files downloaded before their origin was recorded are the accurate models, the only ones
// offered then: records that, so choosing the fast one replaces them. Cheap; call at start.
void adoptUnrecordedModels();

const char* tierKey(ModelTier tier);

} // namespace vozmo
