#include "model_files.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

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

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t length) {
    EVP_DigestUpdate(state_->context, data, length);
}

std::string Sha256::hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->context, digest.data(), &length);
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0xf];
    }
    return text;
}

bool addFileToSum(Sha256& sum, const std::filesystem::path& file, std::int64_t length,
                  const std::atomic<bool>& cancel,
                  const std::function<void(std::int64_t done)>& progress) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::vector<char> buffer(1 << 20);
    std::int64_t done = 0;
    bool ok = true;
    while (ok && done < length) {
        if (cancel.load()) {
            ok = false;
            break;
        }
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buffer.size())));
        ssize_t n = ::read(fd, buffer.data(), want);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false; // shorter than it should be, or unreadable
            break;
        }
        sum.add(buffer.data(), static_cast<std::size_t>(n));
        done += n;
        if (progress) {
            progress(done);
        }
    }
    ::close(fd);
    return ok;
}

namespace {

// "https://huggingface.co/OWNER/REPO/resolve/REVISION/FILE" without its revision; empty for
// any other address.
std::string withoutRevision(const std::string& url) {
    static const std::string host = "https://huggingface.co/";
    if (!url.starts_with(host)) {
        return {};
    }
    const auto resolve = url.find("/resolve/", host.size());
    if (resolve == std::string::npos) {
        return {};
    }
    const auto revisionStart = resolve + 9;
    const auto revisionEnd = url.find('/', revisionStart);
    if (revisionEnd == std::string::npos) {
        return {};
    }
    return url.substr(0, revisionStart) + url.substr(revisionEnd);
}

// A hidden sibling: ".whisper.bin.source".
std::filesystem::path sourceRecord(const std::filesystem::path& dest) {
    return dest.parent_path() / ("." + dest.filename().string() + ".source");
}

// A hidden sibling: ".whisper.bin.sha256".
std::filesystem::path shaRecord(const std::filesystem::path& dest) {
    return dest.parent_path() / ("." + dest.filename().string() + ".sha256");
}

// What identifies this state of the file: its size, inode and change time (which, unlike the
// modification time, no copy can set back).
std::string fileStamp(const std::filesystem::path& dest) {
    struct stat info {};
    if (::stat(dest.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_size) + " " + std::to_string(info.st_ino) + " " +
           std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec);
}

// Writes `text` to `record` beside and renames it, so a reader never sees half of it; with
// empty text, removes the record.
void writeRecord(const std::filesystem::path& record, const std::string& text) {
    std::error_code ec;
    if (text.empty()) {
        std::filesystem::remove(record, ec);
        return;
    }
    const auto partial = record.parent_path() / (record.filename().string() + ".new");
    {
        std::ofstream out(partial, std::ios::trunc);
        out << text << '\n';
        if (!out.flush()) {
            out.close();
            std::filesystem::remove(partial, ec);
            return;
        }
    }
    std::filesystem::rename(partial, record, ec);
}

} // namespace

std::optional<std::string> knownSha256(const std::filesystem::path& dest) {
    std::ifstream in(shaRecord(dest));
    std::string sha256;
    std::string stamp;
    if (!(in >> sha256) || !std::getline(in >> std::ws, stamp)) {
        return std::nullopt;
    }
    const std::string now = fileStamp(dest);
    if (now.empty() || stamp != now) {
        return std::nullopt;
    }
    return sha256;
}

void recordSha256(const std::filesystem::path& dest, const std::string& sha256) {
    const std::string stamp = fileStamp(dest);
    writeRecord(shaRecord(dest), sha256.empty() || stamp.empty() ? "" : sha256 + " " + stamp);
}

bool modelNeedsHashing(const ModelSpec& spec) {
    return !spec.sha256.empty() && modelInstalled(spec) && !knownSha256(spec.dest);
}

bool modelDiffersFromCatalogue(const ModelSpec& spec) {
    if (spec.sha256.empty() || !modelInstalled(spec)) {
        return false;
    }
    const auto known = knownSha256(spec.dest);
    return known && *known != spec.sha256;
}

std::optional<std::string> modelSource(const std::filesystem::path& dest) {
    std::ifstream in(sourceRecord(dest));
    std::string url;
    if (!std::getline(in, url) || url.empty()) {
        return std::nullopt;
    }
    return url;
}

void recordModelSource(const std::filesystem::path& dest, const std::string& url) {
    writeRecord(sourceRecord(dest), url);
}

bool sameModelSource(const std::string& recorded, const std::string& url) {
    if (recorded == url) {
        return true;
    }
    const std::string a = withoutRevision(recorded);
    return !a.empty() && a == withoutRevision(url);
}

bool modelInstalled(const ModelSpec& spec) {
    if (fileSize(spec.dest) < spec.minBytes) {
        return false;
    }
    const auto source = modelSource(spec.dest);
    return !source || sameModelSource(*source, spec.url);
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
