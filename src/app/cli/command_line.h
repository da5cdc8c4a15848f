#pragma once

#include <string>
#include <vector>

namespace vozmo {

// What one invocation asks for.
struct CommandLine {
    enum class Mode { application, selfTest, help, version, key, usageError };
    Mode mode = Mode::application;
    std::string badOption; // usageError: the first argument not understood
    std::string keyAction; // key: "press", "release", "toggle" or "cancel"
};

// Reads argv (the program name first). Qt's own options a desktop or session manager may pass
// (-display, -session, -platform, …) are left for Qt; anything else unknown is an error.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The one-line summary of the options.
inline constexpr const char* kUsageLine =
    "Uso: vozmo [--selftest | --help | --version | --key press|release|toggle|cancel]";

// The full text of --help.
std::string helpText();

// What goes to standard error for a usage error: the option and the usage line.
std::string usageErrorText(const std::string& badOption);

inline constexpr int kUsageErrorStatus = 2;

// What goes to standard error when `vozmo --key` finds no running instance.
inline constexpr const char* kNoInstanceText =
    "vozmo: Vozmo no está en marcha; ábrelo antes de usar --key\n";

} // namespace vozmo
