#include "model_files.h"

#include <fstream>
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

namespace {

// A hidden sibling: ".whisper.bin.source".
std::filesystem::path sourceRecord(const std::filesystem::path& dest) {
    return dest.parent_path() / ("." + dest.filename().string() + ".source");
}

} // namespace

std::optional<std::string> modelSource(const std::filesystem::path& dest) {
    std::ifstream in(sourceRecord(dest));
    std::string url;
    if (!std::getline(in, url) || url.empty()) {
        return std::nullopt;
    }
    return url;
}

void recordModelSource(const std::filesystem::path& dest, const std::string& url) {
    const auto record = sourceRecord(dest);
    std::error_code ec;
    if (url.empty()) {
        std::filesystem::remove(record, ec);
        return;
    }
    // Written beside and renamed, so a reader never sees half an address.
    const auto partial = record.parent_path() / (record.filename().string() + ".new");
    {
        std::ofstream out(partial, std::ios::trunc);
        out << url << '\n';
        if (!out.flush()) {
            std::filesystem::remove(partial, ec);
            return;
        }
    }
    std::filesystem::rename(partial, record, ec);
}

bool modelInstalled(const ModelSpec& spec) {
    if (fileSize(spec.dest) < spec.minBytes) {
        return false;
    }
    const auto source = modelSource(spec.dest);
    return !source || *source == spec.url;
}

bool modelsPresent(const std::vector<ModelSpec>& specs) {
    for (const auto& spec : specs) {
        if (!modelInstalled(spec)) {
            return false;
        }
    }
    return true;
}

} // namespace vozmo
