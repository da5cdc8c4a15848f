#include "model_files.h"

#include <system_error>

namespace vozmo {

std::int64_t fileSize(const std::filesystem::path& file) {
    std::error_code ec;
    // file_size follows a symbolic link to the model and fails on folders: both wanted here.
    auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        return 0;
    }
    return static_cast<std::int64_t>(size);
}

bool modelsPresent(const std::vector<ModelSpec>& specs) {
    for (const auto& spec : specs) {
        if (fileSize(spec.dest) < spec.minBytes) {
            return false;
        }
    }
    return true;
}

} // namespace vozmo
