#pragma once

#include "config.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vozmo {

// Size in bytes of the file at `file`; 0 when it is missing, unreadable or not a regular file.
std::int64_t fileSize(const std::filesystem::path& file);

// True when every model file is at least its minimum size (a truncated download or a saved
// error page counts as missing). Only reads file attributes, so it is cheap on the main thread.
bool modelsPresent(const std::vector<ModelSpec>& specs = config().modelSpecs);

} // namespace vozmo
