#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vozmo {

inline constexpr int WHISPER_PORT = 8178;
inline constexpr int LLM_PORT = 8179;

// One model file the setup downloads and the servers load.
struct ModelSpec {
    std::string name;
    // A fixed revision of the file: the same address always gives the same bytes.
    std::string url;
    std::filesystem::path dest;
    std::int64_t minBytes = 0;
    // What the file at that revision is: its SHA-256 (lower-case hex) and exact byte count.
    // Empty or 0 where it is not known; the download then checks only what it knows.
    std::string sha256 = {};
    std::int64_t bytes = 0;
};

// Process-wide values, fixed once at start-up and read without a lock afterwards.
struct Config {
    std::filesystem::path support;
    std::filesystem::path modelsDir;
    std::filesystem::path logsDir;
    std::filesystem::path dictionaryPath;
    std::filesystem::path whisperModelPath;
    std::filesystem::path llmModelPath;
    std::filesystem::path prefsFile;
    std::filesystem::path autostartFile;
    // Per-user state of the running session: which server processes this user's runs started.
    std::filesystem::path runtimeDir;
    // Folder of the running executable; its "bin" sibling is searched first for the servers.
    std::filesystem::path executableDir;
    bool isSelfTest = false;
    std::set<std::string> chatApps;
    std::vector<ModelSpec> modelSpecs;
};

// Reads the environment (HOME, XDG_DATA_HOME, XDG_CONFIG_HOME) and the arguments. Called by the
// entry point before any other thread exists; tests call it again to point at private folders.
void initConfig(const std::vector<std::string>& args);

const Config& config();

bool hasSelfTestFlag(const std::vector<std::string>& args);

// Creates the support folders and the dictionary template; swallows every error.
void ensureSupport();

// The dictionary template written on first start, exactly as stored.
extern const char* const kDictionaryTemplate;

} // namespace vozmo
