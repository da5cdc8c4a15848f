#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vozmo {

// A typed key-value file (a JSON object). Every read goes to the file, so a change made by any
// part of the process is seen at the next read; writes replace the file atomically. A missing,
// unreadable or corrupt file reads as empty.
class PrefsStore {
public:
    explicit PrefsStore(std::filesystem::path file) : file_(std::move(file)) {}

    std::optional<nlohmann::json> object(const std::string& key) const;
    void setObject(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

private:
    nlohmann::json readAll() const;
    bool writeAll(const nlohmann::json& all) const;

    std::filesystem::path file_;
};

} // namespace vozmo
