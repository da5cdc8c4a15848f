#pragma once

#include "config.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// Size in bytes of the file at `file`; 0 when it is missing, unreadable or not a regular file.
std::int64_t fileSize(const std::filesystem::path& file);

// Where the file at `dest` was downloaded from, as recorded beside it when it arrived; absent
// for a file placed there some other way.
std::optional<std::string> modelSource(const std::filesystem::path& dest);
// Records (or, with an empty url, forgets) where the file at `dest` came from.
void recordModelSource(const std::filesystem::path& dest, const std::string& url);

// The file is at least its minimum size (a truncated download or a saved error page counts as
// missing) and, when its origin is recorded, came from the catalogue's address: files share their
// names between models, so another model's file under the name is missing too.
bool modelInstalled(const ModelSpec& spec);

// True when every model is installed. Only reads file attributes and the small source records,
// so it is cheap on the main thread.
bool modelsPresent(const std::vector<ModelSpec>& specs = config().modelSpecs);

} // namespace vozmo
