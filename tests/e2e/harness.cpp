#include "harness.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vozmo::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string programPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        fs::path candidate = fs::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return name;
}

int runProgram(std::vector<std::string> argv, std::chrono::milliseconds limit) {
    argv.at(0) = programPath(argv[0]);
    ChildProcess process(argv);
    if (!process.started()) {
        return -1;
    }
    auto status = process.wait(limit);
    if (!status) {
        process.stop();
        return -1;
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

std::optional<std::string> programOutput(const std::vector<std::string>& argv,
                                         std::chrono::milliseconds limit) {
    QProcess process;
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        args << QString::fromStdString(argv[i]);
    }
    process.start(QString::fromStdString(argv.at(0)), args);
    if (!process.waitForStarted(5000)) {
        return std::nullopt;
    }
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(3000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

namespace {

void writeText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// A file of `bytes` bytes that occupies no disk: the application checks model files by size.
void sparseFile(const fs::path& file, off_t bytes) {
    fs::create_directories(file.parent_path());
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, bytes) != 0) {
        throw std::runtime_error("cannot make " + file.string());
    }
    ::close(fd);
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

} // namespace

AppHome::AppHome(const Options& options) {
    std::string tmpl = (fs::temp_directory_path() / "vozmo-e2e-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = tmpl;
    for (const char* folder : {"home", "cache", "runtime"}) {
        fs::create_directories(root_ / folder);
    }
    fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    nlohmann::json prefs = {{"setupShown", true},
                            {"hotkey", "ropt"},
                            {"language", options.language},
                            {"polish", options.polish},
                            {"sounds", options.sounds}};
    writeText(prefsFile(), prefs.dump());
    sparseFile(support() / "models" / "whisper.bin", 800000000);
    sparseFile(support() / "models" / "llm.gguf", 2000000000);
    writeText(support() / "diccionario.txt", options.dictionary);
}

AppHome::~AppHome() {
    if (std::getenv("VOZMO_KEEP_E2E_HOME") == nullptr) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

std::map<std::string, std::string> AppHome::environment() const {
    return {{"HOME", (root_ / "home").string()},
            {"XDG_CONFIG_HOME", (root_ / "config").string()},
            {"XDG_DATA_HOME", (root_ / "data").string()},
            {"XDG_CACHE_HOME", (root_ / "cache").string()},
            {"XDG_RUNTIME_DIR", (root_ / "runtime").string()}};
}

// ---------------------------------------------------------------------------------------------

namespace {

// Windows come and go while we look at them; their errors mean "gone", never the end of the
// test process.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

std::optional<unsigned long> cardinal(Display* d, ::Window w, Atom property, Atom type) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actual, &format, &count, &after,
                           &data) != Success) {
        return std::nullopt;
    }
    std::optional<unsigned long> value;
    if (data != nullptr && actual == type && format == 32 && count == 1) {
        value = *reinterpret_cast<unsigned long*>(data);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

std::string titleOf(Display* d, ::Window w) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    if (XGetWindowProperty(d, w, netName, 0, 4096, False, utf8, &actual, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        std::string title(reinterpret_cast<char*>(data), count);
        XFree(data);
        if (actual == utf8) {
            return title;
        }
    }
    XTextProperty property{};
    if (XGetWMName(d, w, &property) == 0 || property.value == nullptr) {
        return {};
    }
    std::string title;
    char** list = nullptr;
    int items = 0;
    if (Xutf8TextPropertyToTextList(d, &property, &list, &items) >= Success && items > 0 &&
        list != nullptr) {
        title = list[0];
    }
    if (list != nullptr) {
        XFreeStringList(list);
    }
    XFree(property.value);
    return title;
}

void collect(Display* d, ::Window w, Atom pidAtom, pid_t pid, std::vector<Desk::Window>& out) {
    auto owner = cardinal(d, w, pidAtom, XA_CARDINAL);
    if (owner && static_cast<pid_t>(*owner) == pid) {
        XWindowAttributes attributes{};
        bool viewable =
            XGetWindowAttributes(d, w, &attributes) != 0 && attributes.map_state == IsViewable;
        out.push_back({w, titleOf(d, w), viewable});
    }
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count) == 0) {
        return;
    }
    std::vector<::Window> kids(children, children + count);
    if (children != nullptr) {
        XFree(children);
    }
    for (::Window child : kids) {
        collect(d, child, pidAtom, pid, out);
    }
}

} // namespace

Desk::Desk() {
    // Before any other Xlib call of this process: the watch thread shares the connection.
    static const bool prepared = [] {
        XInitThreads();
        XSetErrorHandler(ignoreXError);
        return true;
    }();
    (void)prepared;
    display_ = XOpenDisplay(nullptr);
}

Desk::~Desk() {
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
    }
}

std::vector<Desk::Window> Desk::windowsOf(pid_t pid) {
    std::vector<Window> found;
    if (display_ == nullptr) {
        return found;
    }
    std::lock_guard guard(lock_);
    Display* d = asDisplay(display_);
    collect(d, DefaultRootWindow(d), XInternAtom(d, "_NET_WM_PID", False), pid, found);
    return found;
}

std::optional<pid_t> Desk::activePid() {
    if (display_ == nullptr) {
        return std::nullopt;
    }
    std::lock_guard guard(lock_);
    Display* d = asDisplay(display_);
    auto active =
        cardinal(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    if (!active || *active == 0) {
        return std::nullopt;
    }
    auto pid = cardinal(d, *active, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL);
    if (!pid) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*pid);
}

bool Desk::key(const std::string& keysym, bool down) {
    if (display_ == nullptr) {
        return false;
    }
    std::lock_guard guard(lock_);
    Display* d = asDisplay(display_);
    KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysym.c_str()));
    if (code == 0) {
        return false;
    }
    XTestFakeKeyEvent(d, code, down ? True : False, CurrentTime);
    XSync(d, False);
    return true;
}

// ---------------------------------------------------------------------------------------------

HudWatch::HudWatch(Desk& desk, pid_t pid) : desk_(desk), pid_(pid) {
    thread_ = std::thread([this] {
        while (!stop_) {
            poll();
            std::this_thread::sleep_for(30ms);
        }
    });
}

HudWatch::~HudWatch() {
    stop_ = true;
    thread_.join();
}

void HudWatch::poll() {
    auto windows = desk_.windowsOf(pid_);
    const double now = monotonicSeconds();
    std::lock_guard guard(lock_);
    std::set<unsigned long> present;
    for (const auto& w : windows) {
        present.insert(w.id);
        auto it = current_.find(w.id);
        if (it == current_.end() || it->second.title != w.title ||
            it->second.viewable != w.viewable) {
            history_.push_back({now, w.id, w.title, w.viewable});
            current_[w.id] = w;
        }
    }
    for (auto it = current_.begin(); it != current_.end();) {
        if (present.count(it->first) == 0) {
            if (it->second.viewable) {
                history_.push_back({now, it->first, it->second.title, false});
            }
            it = current_.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t HudWatch::mark() {
    std::lock_guard guard(lock_);
    return history_.size();
}

bool HudWatch::sawSince(const std::string& title, std::size_t from) {
    return firstSeen(title, from).has_value();
}

std::optional<double> HudWatch::firstSeen(const std::string& title, std::size_t from) {
    std::lock_guard guard(lock_);
    for (std::size_t i = from; i < history_.size(); ++i) {
        if (history_[i].viewable && history_[i].title == title) {
            return history_[i].time;
        }
    }
    return std::nullopt;
}

bool HudWatch::waitFor(const std::string& title, std::size_t from,
                       std::chrono::milliseconds limit) {
    return waitUntil([&] { return sawSince(title, from); }, limit);
}

std::string HudWatch::shownSince(std::size_t from) {
    std::lock_guard guard(lock_);
    std::string out;
    std::string last;
    for (std::size_t i = from; i < history_.size(); ++i) {
        const auto& s = history_[i];
        std::string item = s.viewable ? "\"" + s.title + "\"" : "(hidden)";
        if (item != last) {
            out += (out.empty() ? "" : " → ") + item;
            last = item;
        }
    }
    return out.empty() ? "nothing" : out;
}

bool HudWatch::panelVisible() {
    std::lock_guard guard(lock_);
    for (const auto& [id, w] : current_) {
        if (w.viewable && w.title != "Vozmo") {
            return true;
        }
    }
    return false;
}

int HudWatch::viewableTitled(const std::string& title) {
    std::lock_guard guard(lock_);
    int count = 0;
    for (const auto& [id, w] : current_) {
        count += (w.viewable && w.title == title) ? 1 : 0;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------

Target::Target(Desk& desk, const std::string& wmClass) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("/usr/bin/python3", {VOZMO_TARGET_WINDOW, "--wm-class",
                                        QString::fromStdString(wmClass), "--timestamps"});
    if (!process_.waitForStarted(10000)) {
        return;
    }
    if (!expect("ready", 30s)) {
        return;
    }
    ready_ = waitUntil([&] { return desk.activePid() == pid(); }, 20s);
}

Target::~Target() {
    if (process_.state() != QProcess::NotRunning) {
        ::kill(pid(), SIGTERM);
        if (!process_.waitForFinished(3000)) {
            ::kill(pid(), SIGKILL);
            process_.waitForFinished(3000);
        }
    }
}

void Target::readLines() {
    pending_ += process_.readAllStandardOutput().toStdString();
    for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
        lines_.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
}

std::optional<std::string> Target::expect(const std::string& prefix,
                                          std::chrono::milliseconds limit) {
    std::optional<std::string> found;
    waitUntil(
        [&] {
            readLines();
            for (; consumed_ < lines_.size(); ++consumed_) {
                if (lines_[consumed_].rfind(prefix, 0) == 0) {
                    found = lines_[consumed_].substr(prefix.size());
                    ++consumed_;
                    return true;
                }
            }
            return process_.state() == QProcess::NotRunning;
        },
        limit);
    return found;
}

bool Target::setText(const std::string& text) {
    process_.write(QByteArray::fromStdString("set " + nlohmann::json(text).dump() + " " +
                                             std::to_string(text.size()) + "\n"));
    process_.waitForBytesWritten(1000);
    return expect("ok", 10s).has_value();
}

std::optional<std::string> Target::text() {
    process_.write("get\n");
    process_.waitForBytesWritten(1000);
    auto answer = expect("text ", 10s);
    if (!answer) {
        return std::nullopt;
    }
    auto parsed = nlohmann::json::parse(*answer, nullptr, false);
    if (!parsed.is_string()) {
        return std::nullopt;
    }
    return parsed.get<std::string>();
}

std::vector<Target::Key> Target::keys() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    readLines();
    std::vector<Key> keys;
    for (const auto& line : lines_) {
        if (line.rfind("key ", 0) != 0) {
            continue;
        }
        std::istringstream in(line.substr(4));
        Key key;
        in >> key.keysym >> key.mods >> key.time;
        keys.push_back(key);
    }
    return keys;
}

bool Target::pasteSeen() {
    for (const auto& key : keys()) {
        if ((key.keysym == "v" || key.keysym == "V") &&
            key.mods.find("control") != std::string::npos) {
            return true;
        }
    }
    return false;
}

ClipboardOwner::ClipboardOwner(const std::string& text) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(VOZMO_CLIPBOARD_OWNER, {QString::fromStdString("text/plain=" + text)});
    ready_ = process_.waitForStarted(10000) &&
             waitUntil([&] { return process_.canReadLine(); }, 20s) &&
             process_.readLine().startsWith("ready");
}

ClipboardOwner::~ClipboardOwner() {
    if (process_.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(3000)) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished(3000);
        }
    }
}

std::optional<std::string> clipboardText() {
    return programOutput({"xclip", "-selection", "clipboard", "-o"});
}

// ---------------------------------------------------------------------------------------------

std::optional<fs::path> speechWav(const fs::path& folder, const std::string& words) {
    fs::path file = folder / "speech.wav";
    if (runProgram({"espeak-ng", "-v", "es", "-w", file.string(), words}) != 0) {
        return std::nullopt;
    }
    return file;
}

fs::path toneWav(const fs::path& file, double toneSeconds, double silenceSeconds) {
    constexpr std::uint32_t rate = 16000;
    const auto tone = static_cast<std::uint32_t>(toneSeconds * rate);
    const auto total = tone + static_cast<std::uint32_t>(silenceSeconds * rate);
    std::string bytes;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
        }
    };
    auto u16 = [&](std::uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xff));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    bytes += "RIFF";
    u32(36 + total * 2);
    bytes += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    bytes += "data";
    u32(total * 2);
    for (std::uint32_t i = 0; i < total; ++i) {
        double value = i < tone ? 0.5 * std::sin(2.0 * M_PI * 440.0 * i / rate) : 0.0;
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(value * 32767.0)));
    }
    writeText(file, bytes);
    return file;
}

std::vector<std::string> playArguments(const fs::path& wav) {
    const char* sink = std::getenv("VOZMO_TEST_SINK");
    // A short buffer, as a microphone has: with paplay's default of 2 s the null sink renders
    // that far ahead, its monitor hands a new recording nothing for up to 2 s, and a held key
    // records silence.
    return {programPath("paplay"), "--latency-msec=30",
            std::string("--device=") + (sink != nullptr ? sink : "vsink"), wav.string()};
}

bool play(const fs::path& wav) {
    return runProgram(playArguments(wav), 200s) == 0;
}

HeldDictation holdKeyUntilPaste(Desk& desk, HudWatch& hud, Target& target, const fs::path& wav,
                                double seconds, std::chrono::milliseconds limit) {
    HeldDictation out;
    const auto from = hud.mark();
    const double down = monotonicSeconds();
    desk.key(kDictationKey, true);
    if (!hud.waitFor("Escuchando", from)) {
        desk.key(kDictationKey, false);
        out.failure = "the recording never started";
        return out;
    }
    ChildProcess player(playArguments(wav));
    waitUntil([&] { return monotonicSeconds() - down >= seconds; },
              std::chrono::milliseconds(static_cast<long>(seconds * 1000) + 5000));
    out.released = monotonicSeconds();
    desk.key(kDictationKey, false);
    waitUntil(
        [&] {
            for (const auto& key : target.keys()) {
                if (key.keysym == "v" && key.mods.find("control") != std::string::npos &&
                    key.time > out.released) {
                    out.pasted = key.time;
                    return true;
                }
            }
            return false;
        },
        limit);
    player.stop();
    return out;
}

// ---------------------------------------------------------------------------------------------

std::map<std::string, std::string> appEnvironment(const AppHome& home, const StandinDir& standins) {
    auto env = home.environment();
    for (const auto& [name, value] : standins.environment()) {
        env[name] = value;
    }
    const char* path = std::getenv("PATH");
    env["PATH"] = standinBinDir().string() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    return env;
}

std::string vozmoExecutable() {
    return VOZMO_EXE;
}

RunningApp::RunningApp(const AppHome& home, const StandinDir& standins, bool standinsOnPath)
    : home_(home), standins_(standins), outputFile_(home.root() / "vozmo.out") {
    auto environment = appEnvironment(home, standins);
    if (!standinsOnPath) {
        const char* path = std::getenv("PATH");
        environment["PATH"] = path != nullptr ? path : "/usr/bin:/bin";
    }
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{vozmoExecutable()},
                                              environment, outputFile_);
}

RunningApp::~RunningApp() {
    process_->stop();
    // A server the application left behind (or could not stop because it was killed) must not
    // hold the fixed ports for the next test.
    for (pid_t pid : standinPids()) {
        if (processAlive(pid)) {
            ::kill(pid, SIGKILL);
        }
    }
}

std::string RunningApp::log() const {
    return readText(home_.logFile());
}

std::size_t RunningApp::logSize() const {
    return log().size();
}

bool RunningApp::waitForLog(const std::string& text, std::size_t from,
                            std::chrono::milliseconds limit) const {
    auto found = [&] {
        std::string all = log();
        return all.size() > from && all.find(text, from) != std::string::npos;
    };
    // An application that has ended writes nothing more.
    waitUntil([&] { return found() || !process_->running(); }, limit);
    return found();
}

std::vector<std::string> RunningApp::logLines(const std::string& text, std::size_t from) const {
    std::string all = log();
    std::istringstream in(all.size() > from ? all.substr(from) : std::string());
    std::vector<std::string> found;
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

std::vector<pid_t> RunningApp::standinPids() const {
    std::vector<pid_t> pids;
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        for (const auto& entry : standins_.records(kind)) {
            if (entry.value("event", "") == "start") {
                pids.push_back(entry.value("pid", 0));
            }
        }
    }
    return pids;
}

std::string RunningApp::output() const {
    return readText(outputFile_);
}

HeldDictation holdKeyThroughPlayback(Desk& desk, HudWatch& hud, Target& target, const fs::path& wav,
                                     double afterEnd, std::chrono::milliseconds limit,
                                     int latencyMs) {
    HeldDictation out;
    const auto from = hud.mark();
    desk.key(kDictationKey, true);
    if (!hud.waitFor("Escuchando", from)) {
        desk.key(kDictationKey, false);
        out.failure = "the recording never started";
        return out;
    }
    auto arguments = playArguments(wav);
    for (std::string& argument : arguments) {
        if (argument.rfind("--latency-msec=", 0) == 0) {
            argument = "--latency-msec=" + std::to_string(latencyMs);
        }
    }
    ChildProcess player(arguments);
    if (!waitUntil([&] { return !player.running(); }, 10min)) {
        desk.key(kDictationKey, false);
        out.failure = "the recording never ended";
        return out;
    }
    const double ended = monotonicSeconds();
    waitUntil([&] { return monotonicSeconds() - ended >= afterEnd; },
              std::chrono::milliseconds(static_cast<long>(afterEnd * 1000) + 1000));
    out.released = monotonicSeconds();
    desk.key(kDictationKey, false);
    waitUntil(
        [&] {
            for (const auto& key : target.keys()) {
                if (key.keysym == "v" && key.mods.find("control") != std::string::npos &&
                    key.time > out.released) {
                    out.pasted = key.time;
                    return true;
                }
            }
            return false;
        },
        limit);
    return out;
}

} // namespace vozmo::test
