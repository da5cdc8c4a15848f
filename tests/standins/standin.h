#pragma once

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vozmo::test {

// The stand-in servers of tests/standins/bin: "whisper" (whisper-server) and "llama"
// (llama-server).
enum class StandinKind { Whisper, Llama };

// The folder holding the executables whisper-server and llama-server; tests put it first on PATH.
std::filesystem::path standinBinDir();

// "whisper" or "llama": the base name of the kind's behaviour file and record.
std::string standinName(StandinKind kind);

// Full path of the kind's executable inside standinBinDir().
std::filesystem::path standinExecutable(StandinKind kind);

// The exact arguments the application passes (without the executable itself).
std::vector<std::string> standinArguments(StandinKind kind, const std::filesystem::path& model,
                                          int port);

// Prepends standinBinDir() to this process's PATH (once), so children and executable searches
// find the stand-ins before any real server.
void putStandinsFirstOnPath();

// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();

// True once a TCP connection to 127.0.0.1:port succeeds.
bool portAnswers(int port);

// A child process started with an argument vector (no shell). Stopped by pid when destroyed:
// SIGTERM, then SIGKILL if it has not exited within a few seconds.
class ChildProcess {
public:
    // argv[0] is the executable path. env holds variables added to (or replacing in) this
    // process's environment. Output goes to outputFile when given, else it is inherited.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env = {},
                 const std::filesystem::path& outputFile = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running();
    // Waits up to timeout for the exit; the raw wait status, or absent if still running.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after grace; returns the wait status (absent if it never started).
    std::optional<int> stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // The wait status once the process has exited.
    std::optional<int> status() const { return status_; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A private folder for the stand-ins' behaviour files and records (VOZMO_STANDIN_DIR), with an
// empty model file for each kind. Removed on destruction.
class StandinDir {
public:
    StandinDir();
    ~StandinDir();
    StandinDir(const StandinDir&) = delete;
    StandinDir& operator=(const StandinDir&) = delete;

    const std::filesystem::path& path() const { return root_; }
    // An existing (empty) model file to pass with -m.
    std::filesystem::path model() const { return root_ / "model.bin"; }
    // Writes <name>.json atomically; the stand-in reads it again on every request.
    void configure(StandinKind kind, const nlohmann::json& behaviour) const;
    // Every line of <name>.record.jsonl: events "start", "listening", "request", "exit", ...
    std::vector<nlohmann::json> records(StandinKind kind) const;
    // Only the "request" entries, optionally those of one path.
    std::vector<nlohmann::json> requests(StandinKind kind, const std::string& path = {}) const;
    // The pids of the kind's "start" events, in launch order.
    std::vector<pid_t> startedPids(StandinKind kind) const;
    // The environment a stand-in needs: VOZMO_STANDIN_DIR.
    std::map<std::string, std::string> environment() const;

private:
    std::filesystem::path root_;
};

// The process exists and is not a zombie.
bool processAlive(pid_t pid);

// The exact bytes of a recorded request's body (decoded from "body_base64").
std::string recordedBody(const nlohmann::json& request);

// The value of a recorded request header (case-insensitive name), or absent.
std::optional<std::string> recordedHeader(const nlohmann::json& request, const std::string& name);

// One stand-in server on its own port, started with the application's command line and the
// folder's behaviour. Stopped by pid on destruction, whatever happened.
class Standin {
public:
    // port 0 picks a free port. The folder must outlive the stand-in.
    Standin(StandinKind kind, const StandinDir& dir, int port = 0);

    // Waits until the port accepts connections and the model is loaded (the stand-in recorded
    // "listening"); false if the process exited or time ran out.
    bool waitUntilListening(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits only until the port accepts connections (llama-server does so while still loading).
    bool waitUntilPortOpen(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    ChildProcess& process() { return process_; }

private:
    bool waitFor(bool needLoaded, std::chrono::milliseconds timeout);

    StandinKind kind_;
    const StandinDir& dir_;
    int port_;
    ChildProcess process_;
};

// Audio that the stand-in whisper-server, given `tone_words`, transcribes exactly: word n is a
// tone of 400 + 150 * n Hz. A dictation of phrases: words of `wordSeconds` joined by gaps of
// `gapSeconds` (too short to be a pause), phrases joined by pauses of `pauseSeconds`.
struct TonePhrase {
    std::vector<int> words;
    double pauseAfter = 0.6; // seconds of silence after the phrase
};
std::vector<float> toneWordAudio(const std::vector<TonePhrase>& phrases, double wordSeconds = 0.3,
                                 double gapSeconds = 0.06, double amplitude = 0.3);
// The words to configure as `tone_words`, and the transcript of a list of phrases.
std::vector<std::string> toneWordNames();
std::string toneTranscript(const std::vector<TonePhrase>& phrases);
// A dictation of about `seconds`, in phrases of 3 to 8 words with pauses of 0.4 to 1.2 s, the
// same for the same seed.
std::vector<TonePhrase> tonePhrases(double seconds, unsigned seed);
// The words that `heard` lacks and adds against `expected` (words are split at blanks), with
// their places, by a longest common subsequence: empty when the two are the same words.
std::string wordDifference(const std::string& expected, const std::string& heard);

} // namespace vozmo::test
