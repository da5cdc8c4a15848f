#pragma once

#include "config.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// Size in bytes of the file at `file`; 0 when it is missing, unreadable or not a regular file.
std::int64_t fileSize(const std::filesystem::path& file);

// A SHA-256 computed piece by piece, as a download arrives.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(const void* data, std::size_t length);
    // Lower-case hex of everything added so far; the sum can be taken once.
    std::string hex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Adds the first `length` bytes of `file` to `sum`, calling `progress` with the bytes read so
// far now and then. False when the file cannot be read that far or `cancel` is set.
bool addFileToSum(Sha256& sum, const std::filesystem::path& file, std::int64_t length,
                  const std::atomic<bool>& cancel,
                  const std::function<void(std::int64_t done)>& progress = {});

// Whether two download addresses name the same file: equal, or the same file of the same
// Hugging Face repository at another revision (older versions recorded "main").
bool sameModelSource(const std::string& recorded, const std::string& url);

// Where the file at `dest` was downloaded from, as recorded beside it when it arrived; absent
// for a file placed there some other way.
std::optional<std::string> modelSource(const std::filesystem::path& dest);
// Records (or, with an empty url, forgets) where the file at `dest` came from.
void recordModelSource(const std::filesystem::path& dest, const std::string& url);

// The SHA-256 of the file at `dest` as it was when last downloaded or read whole, while the
// file has not changed since (same size, inode and change time); recorded beside it, so a file
// of gigabytes is read once, not at every start.
std::optional<std::string> knownSha256(const std::filesystem::path& dest);
void recordSha256(const std::filesystem::path& dest, const std::string& sha256);

// An installed file whose hash was never taken, or was taken before the file last changed
// (copied in by hand, or downloaded by an older version), while the catalogue has one to
// compare with.
bool modelNeedsHashing(const ModelSpec& spec);

// An installed file whose hash was taken and is not the catalogue's: it is kept and used, and
// the setup window says so.
bool modelDiffersFromCatalogue(const ModelSpec& spec);

// The file is at least its minimum size (a truncated download or a saved error page counts as
// missing) and, when its origin is recorded, came from the catalogue's file: files share their
// names between models, so another model's file under the name is missing too.
bool modelInstalled(const ModelSpec& spec);

// True when every model is installed. Only reads file attributes and the small source records,
// so it is cheap on the main thread.
bool modelsPresent(const std::vector<ModelSpec>& specs = config().modelSpecs);

} // namespace vozmo
