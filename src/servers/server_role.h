#pragma once

#include "config.h"
#include "error.h"
#include "server_command.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vozmo {

// What sets one inference server apart from the other. Constant data only, with nothing to
// destroy: an exit() may run the supervisor's clean-up while static objects are going.
struct ServerRole {
    std::string_view name;    // in the log, in "<name>.log" and in the launch records
    std::string_view program; // the executable, found by findBinary
    std::filesystem::path Config::*model;
    int port;
    std::vector<std::string> (*arguments)(const std::filesystem::path& model, int port,
                                          int threads);
    std::string_view readinessPath; // probed until it answers
    // whisper-server has no health endpoint: any answer from it will do. llama-server answers
    // 503 while it loads.
    bool readyOnAnyAnswer;
    // Runs at a lower processor priority: the user waits for the speech, while polishing is
    // optional.
    bool lowPriority;
    // The environment variable through which the server takes a key of this run that every
    // request must carry; empty for a server that has no key option.
    std::string_view keyVariable;
    // A polish request loads the model's weights and prompt prefix once it is ready.
    bool warmsUp;
    Error::Kind portBusy;
    Error::Kind gaveUp;
    std::string_view missingLog; // said once when its program or model is missing
};

inline constexpr ServerRole kSpeechServer{
    .name = "whisper",
    .program = "whisper-server",
    .model = &Config::whisperModelPath,
    .port = WHISPER_PORT,
    .arguments = whisperServerArguments,
    .readinessPath = "/",
    .readyOnAnyAnswer = true,
    .lowPriority = false,
    .keyVariable = "",
    .warmsUp = false,
    .portBusy = Error::Kind::speechServerPortBusy,
    .gaveUp = Error::Kind::speechServerGaveUp,
    .missingLog = "Whisper no disponible: falta whisper-server o el modelo",
};

inline constexpr ServerRole kPolishServer{
    .name = "llm",
    .program = "llama-server",
    .model = &Config::llmModelPath,
    .port = LLM_PORT,
    .arguments = llamaServerArguments,
    .readinessPath = "/health",
    .readyOnAnyAnswer = false,
    .lowPriority = true,
    .keyVariable = "LLAMA_API_KEY",
    .warmsUp = true,
    .portBusy = Error::Kind::polishServerPortBusy,
    .gaveUp = Error::Kind::polishServerGaveUp,
    .missingLog = "IA de pulido no disponible: falta llama-server o el modelo",
};

} // namespace vozmo
