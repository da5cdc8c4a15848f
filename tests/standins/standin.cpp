#include "standin.h"

#include "server_command.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vozmo::test {

namespace {

using namespace std::chrono_literals;

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::vector<std::string> standinArgv(StandinKind kind, const StandinDir& dir, int port) {
    std::vector<std::string> argv{standinExecutable(kind).string()};
    for (auto& arg : standinArguments(kind, dir.model(), port)) {
        argv.push_back(std::move(arg));
    }
    return argv;
}

int decode64(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

} // namespace

std::filesystem::path standinBinDir() {
    return VOZMO_STANDIN_BIN;
}

std::string standinName(StandinKind kind) {
    return kind == StandinKind::Whisper ? "whisper" : "llama";
}

std::filesystem::path standinExecutable(StandinKind kind) {
    return standinBinDir() / (kind == StandinKind::Whisper ? "whisper-server" : "llama-server");
}

std::vector<std::string> standinArguments(StandinKind kind, const std::filesystem::path& model,
                                          int port) {
    // The application's own command lines; any thread count will do here.
    constexpr int threads = 2;
    if (kind == StandinKind::Whisper) {
        return whisperServerArguments(model, port, threads);
    }
    return llamaServerArguments(model, port, threads);
}

void putStandinsFirstOnPath() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* old = std::getenv("PATH");
        std::string path = standinBinDir().string();
        if (old != nullptr && *old != '\0') {
            path += ":";
            path += old;
        }
        ::setenv("PATH", path.c_str(), 1);
    });
}

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool portAnswers(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// ----- ChildProcess -----

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env,
                           const std::filesystem::path& outputFile) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (env.find(name) == env.end()) {
            environment.push_back(text);
        }
    }
    for (const auto& [name, value] : env) {
        environment.push_back(name + "=" + value);
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    if (!argv.empty() &&
        ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::running() {
    return started() && !wait(0ms);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (status_ || !started()) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            return status_;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt; // not our child any more; nothing to wait for
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(10ms);
    }
}

std::optional<int> ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!started() || status_) {
        return status_;
    }
    ::kill(pid_, SIGTERM);
    if (auto status = wait(grace)) {
        return status;
    }
    ::kill(pid_, SIGKILL);
    return wait(std::chrono::seconds(30));
}

// ----- StandinDir -----

StandinDir::StandinDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vozmo-standin-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = tmpl;
    std::ofstream(model()).flush();
}

StandinDir::~StandinDir() {
    if (std::getenv("VOZMO_KEEP_STANDIN_DIR") != nullptr) {
        return; // kept for a post-mortem of a failing test
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void StandinDir::configure(StandinKind kind, const nlohmann::json& behaviour) const {
    // Written beside and renamed over, so a stand-in never reads half a file.
    const auto target = root_ / (standinName(kind) + ".json");
    const auto temporary = root_ / (standinName(kind) + ".json.tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << behaviour.dump();
    }
    std::filesystem::rename(temporary, target);
}

std::vector<pid_t> StandinDir::startedPids(StandinKind kind) const {
    std::vector<pid_t> pids;
    for (const auto& entry : records(kind)) {
        if (entry.value("event", "") == "start") {
            pids.push_back(entry.value("pid", 0));
        }
    }
    return pids;
}

bool processAlive(pid_t pid) {
    if (pid <= 0) {
        return false;
    }
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    // getline, not a stream iterator: a process that ends between the open and the read makes
    // the read fail (ESRCH), which an iterator would throw.
    std::getline(in, stat);
    // A zombie has ended; only its parent has not collected it yet.
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<nlohmann::json> StandinDir::records(StandinKind kind) const {
    std::vector<nlohmann::json> entries;
    std::ifstream in(root_ / (standinName(kind) + ".record.jsonl"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        auto entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_object()) { // a line still being written is skipped
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

std::vector<nlohmann::json> StandinDir::requests(StandinKind kind, const std::string& path) const {
    std::vector<nlohmann::json> found;
    for (auto& entry : records(kind)) {
        if (entry.value("event", "") == "request" &&
            (path.empty() || entry.value("path", "") == path)) {
            found.push_back(std::move(entry));
        }
    }
    return found;
}

std::map<std::string, std::string> StandinDir::environment() const {
    return {{"VOZMO_STANDIN_DIR", root_.string()}};
}

std::string recordedBody(const nlohmann::json& request) {
    const auto it = request.find("body_base64");
    if (it == request.end() || !it->is_string()) {
        return {};
    }
    const auto& text = it->get_ref<const std::string&>();
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        const int value = decode64(c);
        if (value < 0) {
            continue; // padding
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

std::optional<std::string> recordedHeader(const nlohmann::json& request, const std::string& name) {
    const auto it = request.find("headers");
    if (it == request.end() || !it->is_array()) {
        return std::nullopt;
    }
    for (const auto& header : *it) {
        if (header.is_array() && header.size() == 2 && header[0].is_string() &&
            header[1].is_string() &&
            ::strcasecmp(header[0].get_ref<const std::string&>().c_str(), name.c_str()) == 0) {
            return header[1].get<std::string>();
        }
    }
    return std::nullopt;
}

// ----- Standin -----

Standin::Standin(StandinKind kind, const StandinDir& dir, int port)
    : kind_(kind), dir_(dir), port_(port > 0 ? port : freePort()),
      process_(standinArgv(kind, dir, port_), dir.environment(),
               dir.path() / (standinName(kind) + ".log")) {}

bool Standin::waitUntilListening(std::chrono::milliseconds timeout) {
    return waitFor(true, timeout);
}

bool Standin::waitUntilPortOpen(std::chrono::milliseconds timeout) {
    return waitFor(false, timeout);
}

bool Standin::waitFor(bool needLoaded, std::chrono::milliseconds timeout) {
    const auto loaded = [this] {
        for (const auto& entry : dir_.records(kind_)) {
            if (entry.value("event", "") == "listening" &&
                entry.value("pid", 0) == process_.pid()) {
                return true;
            }
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (portAnswers(port_) && (!needLoaded || loaded())) {
            return true;
        }
        if (!process_.running()) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::string Standin::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> toneWordNames() {
    return {"cero", "uno",   "dos",  "tres", "cuatro", "cinco", "seis",    "siete",
            "ocho", "nueve", "diez", "once", "doce",   "trece", "catorce", "quince"};
}

std::vector<float> toneWordAudio(const std::vector<TonePhrase>& phrases, double wordSeconds,
                                 double gapSeconds, double amplitude) {
    constexpr double rate = 16000.0;
    std::vector<float> audio;
    auto silence = [&](double seconds) {
        audio.insert(audio.end(), static_cast<std::size_t>(seconds * rate), 0.0f);
    };
    for (const TonePhrase& phrase : phrases) {
        for (std::size_t i = 0; i < phrase.words.size(); ++i) {
            if (i > 0) {
                silence(gapSeconds);
            }
            const double pitch = 400.0 + 150.0 * phrase.words[i];
            const auto count = static_cast<std::size_t>(wordSeconds * rate);
            for (std::size_t k = 0; k < count; ++k) {
                audio.push_back(
                    static_cast<float>(amplitude * std::sin(2.0 * M_PI * pitch * k / rate)));
            }
        }
        silence(phrase.pauseAfter);
    }
    return audio;
}

std::string toneTranscript(const std::vector<TonePhrase>& phrases) {
    const auto names = toneWordNames();
    std::string text;
    for (const TonePhrase& phrase : phrases) {
        for (const int word : phrase.words) {
            if (!text.empty()) {
                text += ' ';
            }
            text += names.at(static_cast<std::size_t>(word));
        }
    }
    return text;
}

std::vector<TonePhrase> tonePhrases(double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> wordCount(3, 8);
    std::uniform_int_distribution<int> word(0, 15);
    std::uniform_real_distribution<double> pause(0.4, 1.2);
    std::vector<TonePhrase> phrases;
    double length = 0;
    while (length < seconds) {
        TonePhrase phrase;
        const int count = wordCount(random);
        for (int i = 0; i < count; ++i) {
            phrase.words.push_back(word(random));
        }
        phrase.pauseAfter = pause(random);
        length += count * 0.3 + (count - 1) * 0.06 + phrase.pauseAfter;
        phrases.push_back(std::move(phrase));
    }
    return phrases;
}

namespace {

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

} // namespace

std::string wordDifference(const std::string& expected, const std::string& heard) {
    const auto a = splitWords(expected);
    const auto b = splitWords(heard);
    // common[i][j]: the longest common subsequence of a[i..] and b[j..].
    std::vector<std::vector<std::size_t>> common(a.size() + 1,
                                                 std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                        : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    std::string missing;
    std::string extra;
    auto note = [](std::string& list, const std::string& word, const char* where,
                   std::size_t place) {
        list += (list.empty() ? "" : ", ") + word + " (" + where + std::to_string(place) + ")";
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            ++i;
            ++j;
        } else if (j < b.size() && (i == a.size() || common[i][j + 1] >= common[i + 1][j])) {
            note(extra, b[j], "after expected word ", i);
            ++j;
        } else {
            note(missing, a[i], "expected word ", i + 1);
            ++i;
        }
    }
    std::string out;
    if (!missing.empty()) {
        out += "missing: " + missing;
    }
    if (!extra.empty()) {
        out += (out.empty() ? "" : "; ") + std::string("extra: ") + extra;
    }
    return out;
}

} // namespace vozmo::test
