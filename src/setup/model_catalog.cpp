#include "model_catalog.h"

#include "model_files.h"
#include "prefs.h"
#include "prefs_store.h"
#include "server_command.h"

namespace vozmo {

namespace {

const char* roleKey(ModelRole role) {
    return role == ModelRole::speech ? "speechModel" : "polishModel";
}

std::optional<ModelTier> tierFrom(const std::optional<nlohmann::json>& value) {
    if (!value || !value->is_string()) {
        return std::nullopt;
    }
    const auto& text = value->get_ref<const std::string&>();
    if (text == tierKey(ModelTier::fast)) {
        return ModelTier::fast;
    }
    if (text == tierKey(ModelTier::accurate)) {
        return ModelTier::accurate;
    }
    return std::nullopt;
}

} // namespace

const char* tierKey(ModelTier tier) {
    return tier == ModelTier::fast ? "fast" : "accurate";
}

std::vector<ModelOption> modelOptions() {
    const Config& c = config();
    // The accurate models are the configuration's; the fast ones share their file names. Every
    // address names a fixed revision, with that revision's SHA-256 and size.
    auto configured = [&c](std::size_t index, const std::filesystem::path& dest) {
        return index < c.modelSpecs.size() ? c.modelSpecs[index] : ModelSpec{"", "", dest, 0};
    };
    const ModelSpec accurateSpeech = configured(0, c.whisperModelPath);
    const ModelSpec accuratePolish = configured(1, c.llmModelPath);
    return {
        {ModelRole::speech,
         ModelTier::fast,
         "Rápido · Whisper small",
         "265 MB",
         "Rápido: unos 1–2 s por dictado corto sin GPU.",
         {accurateSpeech.name,
          "https://huggingface.co/ggerganov/whisper.cpp/resolve/"
          "0b364b566045a405be7225ee1e415a073e04da77/ggml-small-q8_0.bin",
          c.whisperModelPath, 200000000,
          "49c8fb02b65e6049d5fa6c04f81f53b867b5ec9540406812c643f177317f779f", 264464607}},
        {ModelRole::speech, ModelTier::accurate, "Preciso · Whisper large-v3-turbo", "870 MB",
         "Lento sin GPU (unos 7 s por dictado corto); rápido con GPU.", accurateSpeech},
        {ModelRole::polish,
         ModelTier::fast,
         "Rápido · Qwen3 1.7B",
         "1,1 GB",
         "Rápido: unos 2–3 s por dictado corto sin GPU.",
         {accuratePolish.name,
          "https://huggingface.co/unsloth/Qwen3-1.7B-GGUF/resolve/"
          "d7f544eead698dbd1f15126ef60b45a1e1933222/Qwen3-1.7B-Q4_K_M.gguf",
          c.llmModelPath, 900000000,
          "b139949c5bd74937ad8ed8c8cf3d9ffb1e99c866c823204dc42c0d91fa181897", 1107409472}},
        {ModelRole::polish, ModelTier::accurate, "Preciso · Qwen3 4B", "2,5 GB",
         "Lento sin GPU (5 s o más; se omite si no llega a tiempo).", accuratePolish},
    };
}

const ModelOption& modelOption(const std::vector<ModelOption>& options, ModelRole role,
                               ModelTier tier) {
    for (const auto& option : options) {
        if (option.role == role && option.tier == tier) {
            return option;
        }
    }
    return options.front(); // the catalogue has every pair
}

MachineFacts machineFacts() {
    return {physicalCores(), gpuPresent()};
}

ModelTier defaultTier(const MachineFacts& facts) {
    return facts.gpu || facts.physicalCores >= 8 ? ModelTier::accurate : ModelTier::fast;
}

ModelTier chosenTier(ModelRole role, const MachineFacts& facts) {
    if (auto stored = tierFrom(Prefs::object(roleKey(role)))) {
        return *stored;
    }
    const auto options = modelOptions();
    const auto& fast = modelOption(options, role, ModelTier::fast);
    const auto source = modelSource(fast.spec.dest);
    if (source && sameModelSource(*source, fast.spec.url)) {
        return ModelTier::fast;
    }
    if (source &&
        sameModelSource(*source, modelOption(options, role, ModelTier::accurate).spec.url)) {
        return ModelTier::accurate;
    }
    return defaultTier(facts);
}

ModelTier chosenTier(ModelRole role) {
    return chosenTier(role, machineFacts());
}

void chooseTier(ModelRole role, ModelTier tier) {
    PrefsStore(config().prefsFile).setObject(roleKey(role), tierKey(tier));
}

std::vector<ModelSpec> chosenModelSpecs() {
    const auto options = modelOptions();
    const MachineFacts facts = machineFacts();
    return {modelOption(options, ModelRole::speech, chosenTier(ModelRole::speech, facts)).spec,
            modelOption(options, ModelRole::polish, chosenTier(ModelRole::polish, facts)).spec};
}

bool usableModelsPresent() {
    const auto options = modelOptions();
    for (ModelRole role : {ModelRole::speech, ModelRole::polish}) {
        if (!modelInstalled(modelOption(options, role, ModelTier::fast).spec) &&
            !modelInstalled(modelOption(options, role, ModelTier::accurate).spec)) {
            return false;
        }
    }
    return true;
}

void adoptUnrecordedModels() {
    for (const ModelSpec& accurate : config().modelSpecs) {
        if (!modelSource(accurate.dest) && fileSize(accurate.dest) >= accurate.minBytes) {
            recordModelSource(accurate.dest, accurate.url);
        }
    }
}

} // namespace vozmo
