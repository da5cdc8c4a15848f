#include "prefs_store.h"

#include "log.h"

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace vozmo {

namespace {

constexpr int kMaxDepth = 64;

// Serialises the read-modify-write cycles of all stores in this process.
std::mutex& storeMutex() {
    static std::mutex m;
    return m;
}
} // namespace

nlohmann::json PrefsStore::readAll() const {
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        return nlohmann::json::object();
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    // Copying and writing a value recurse once per level: a file nested deeper than any setting
    // would overflow the stack. Such a setting is dropped whole; the others still count.
    std::string key;
    std::set<std::string> tooDeep;
    const auto shallow = [&](int depth, nlohmann::json::parse_event_t event,
                             nlohmann::json& value) {
        using Event = nlohmann::json::parse_event_t;
        if (event == Event::key && depth == 1 && value.is_string()) {
            key = value.get<std::string>();
        }
        if (depth >= kMaxDepth && (event == Event::object_start || event == Event::array_start)) {
            tooDeep.insert(key);
            return false; // not even built
        }
        return true;
    };
    auto parsed = nlohmann::json::parse(buffer.str(), shallow, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
        for (const auto& name : tooDeep) {
            parsed.erase(name);
        }
    }
    if (!parsed.is_object()) {
        return nlohmann::json::object();
    }
    return parsed;
}

bool PrefsStore::writeAll(const nlohmann::json& all) const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    std::string tmpl = (file_.parent_path() / ".prefs.XXXXXX").string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        return false;
    }
    std::string text = all.dump(2) + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = (::fsync(fd) == 0) && ok;
    ::close(fd);
    if (!ok || ::rename(tmpl.c_str(), file_.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return false;
    }
    return true;
}

std::optional<nlohmann::json> PrefsStore::object(const std::string& key) const {
    std::lock_guard lock(storeMutex());
    auto all = readAll();
    auto it = all.find(key);
    if (it == all.end() || it->is_null()) {
        return std::nullopt;
    }
    return *it;
}

void PrefsStore::setObject(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(storeMutex());
    auto all = readAll();
    all[key] = value;
    if (!writeAll(all)) {
        log("No se pudieron guardar las preferencias en " + file_.string());
    }
}

void PrefsStore::remove(const std::string& key) {
    std::lock_guard lock(storeMutex());
    auto all = readAll();
    if (all.erase(key) > 0 && !writeAll(all)) {
        log("No se pudieron guardar las preferencias en " + file_.string());
    }
}

} // namespace vozmo
