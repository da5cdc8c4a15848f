#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vozmo {

// A typed key-value file (a JSON object). The file is parsed once and again only when it changes
// (a stat() per read), so an edit by hand or by another process is seen at the next read;
// writes replace the file atomically. A missing file, or one unreadable from the start, reads
// as empty; a file that turns unreadable later keeps the values last read from it.
class PrefsStore {
public:
    explicit PrefsStore(std::filesystem::path file) : file_(std::move(file)) {}

    std::optional<nlohmann::json> object(const std::string& key) const;
    void setObject(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

private:
    // The values of the file's current version; called with the store lock held.
    const nlohmann::json& readAll() const;
    static std::optional<nlohmann::json> parse(const std::string& text);
    bool writeAll(const nlohmann::json& all) const;

    std::filesystem::path file_;
};

} // namespace vozmo
