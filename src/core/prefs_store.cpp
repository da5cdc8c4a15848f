#include "prefs_store.h"

#include "log.h"

#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vozmo {

namespace {

constexpr int kMaxDepth = 64;

// File timestamps advance in kernel ticks, so an edit made within a tick of our last read can
// keep size, inode and times unchanged. A file changed this recently is read again next time.
constexpr std::chrono::seconds kSettleTime{1};

// What identifies one version of the file without reading it.
struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const Stamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

Stamp stampOf(const std::filesystem::path& file) {
    struct stat st {};
    Stamp s;
    if (::stat(file.c_str(), &st) != 0) {
        return s;
    }
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    s.changed = st.st_ctim;
    return s;
}

bool settled(const Stamp& s) {
    const auto latest = std::max(
        std::chrono::seconds(s.modified.tv_sec) + std::chrono::nanoseconds(s.modified.tv_nsec),
        std::chrono::seconds(s.changed.tv_sec) + std::chrono::nanoseconds(s.changed.tv_nsec));
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return now - latest > kSettleTime;
}

// The last good contents of one file, and the version of the file they were read from.
struct Snapshot {
    Stamp stamp;
    bool trusted = false; // stamp settled: an unchanged stamp means unchanged contents
    bool broken = false;  // the file on disk does not parse; `values` are the last good ones
    nlohmann::json values = nlohmann::json::object();
};

// Serialises the read-modify-write cycles of all stores in this process, and keeps one snapshot
// per file so a read costs one stat() while the file is unchanged.
struct Shared {
    std::mutex mutex;
    std::map<std::filesystem::path, Snapshot> snapshots;
};

Shared& shared() {
    static Shared s;
    return s;
}

} // namespace

std::optional<nlohmann::json> PrefsStore::parse(const std::string& text) {
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
    auto parsed = nlohmann::json::parse(text, shallow, /*allow_exceptions=*/false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    for (const auto& name : tooDeep) {
        parsed.erase(name);
    }
    return parsed;
}

const nlohmann::json& PrefsStore::readAll() const {
    auto& snapshot = shared().snapshots[file_];
    const Stamp now = stampOf(file_);
    if (snapshot.trusted && now == snapshot.stamp) {
        return snapshot.values;
    }
    snapshot.stamp = now;
    snapshot.trusted = settled(now);
    if (!now.exists) {
        snapshot.broken = false;
        snapshot.values = nlohmann::json::object();
        return snapshot.values;
    }
    std::ifstream in(file_, std::ios::binary);
    std::stringstream buffer;
    if (in) {
        buffer << in.rdbuf();
    }
    auto parsed = in ? parse(buffer.str()) : std::nullopt;
    if (parsed) {
        snapshot.broken = false;
        snapshot.values = std::move(*parsed);
    } else if (!snapshot.broken) {
        // Half-written by an editor, or mistyped: the settings read before stay in force until
        // the file parses again.
        snapshot.broken = true;
        log("Las preferencias de " + file_.string() +
            " no se pueden leer; siguen los últimos valores leídos");
    }
    return snapshot.values;
}

bool PrefsStore::writeAll(const nlohmann::json& all) const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    auto& snapshot = shared().snapshots[file_];
    if (snapshot.broken) {
        // The unreadable file may be a hand edit in progress; keep it beside the new one.
        auto aside = file_;
        aside += ".roto";
        if (std::filesystem::copy_file(file_, aside,
                                       std::filesystem::copy_options::overwrite_existing, ec)) {
            log("Preferencias ilegibles guardadas en " + aside.string());
        }
    }
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
    snapshot.stamp = stampOf(file_);
    snapshot.trusted = settled(snapshot.stamp);
    snapshot.broken = false;
    snapshot.values = all;
    return true;
}

std::optional<nlohmann::json> PrefsStore::object(const std::string& key) const {
    std::lock_guard lock(shared().mutex);
    const auto& all = readAll();
    auto it = all.find(key);
    if (it == all.end() || it->is_null()) {
        return std::nullopt;
    }
    return *it;
}

void PrefsStore::setObject(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(shared().mutex);
    auto all = readAll();
    all[key] = value;
    if (!writeAll(all)) {
        log("No se pudieron guardar las preferencias en " + file_.string());
    }
}

void PrefsStore::remove(const std::string& key) {
    std::lock_guard lock(shared().mutex);
    auto all = readAll();
    if (all.erase(key) > 0 && !writeAll(all)) {
        log("No se pudieron guardar las preferencias en " + file_.string());
    }
}

} // namespace vozmo
