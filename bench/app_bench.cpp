// The running application: its own latency from the release of the dictation key to the paste
// stroke arriving in the target window (the stand-in servers' handling taken off), for a 5 s and
// a 60 s dictation; then its processor time and resident memory while idle.
#include "bench_app.h"

#include <QCoreApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using vozmo::test::StandinKind;
namespace t = vozmo::test;

// Seconds the stand-in spent on each work request it answered, by request number.
std::map<int, double> handling(const t::StandinDir& dir, StandinKind kind) {
    std::map<int, double> seconds;
    for (const auto& entry : dir.records(kind)) {
        if (entry.value("event", "") == "answered") {
            seconds[entry.value("request_number", 0)] = entry.value("seconds", 0.0);
        }
    }
    return seconds;
}

double handledAfter(const t::StandinDir& dir, StandinKind kind, std::size_t known) {
    double total = 0;
    std::size_t index = 0;
    for (const auto& [number, seconds] : handling(dir, kind)) {
        if (index++ >= known) {
            total += seconds;
        }
    }
    return total;
}

// utime + stime of a process (or of one of its threads: "PID/task/TID"), in clock ticks.
long long cpuTicks(const std::string& which) {
    std::ifstream in("/proc/" + which + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) {
            utime = std::stoll(field);
        } else if (number == 15) {
            stime = std::stoll(field);
        }
    }
    return utime + stime;
}

double rssMegabytes(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return -1;
}

// Asks the window manager to close `window`, as its close button does (_NET_CLOSE_WINDOW); the
// application then gets WM_DELETE_WINDOW like from a user.
bool closeLikeAUser(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2; // from a pager or taskbar, that is: the user
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

class Bench {
public:
    bool start() {
        standins_.configure(StandinKind::Whisper, {{"text", " esto es una prueba de latencia\n"},
                                                   {"record_bodies", false}});
        standins_.configure(StandinKind::Llama, {{"content", "Esto es una prueba de latencia."},
                                                 {"record_bodies", false}});
        if (!run_.start()) {
            return false;
        }
        if (!run_.app().waitForLog("whisper listo en", 0, 120s) ||
            !run_.app().waitForLog("llm listo en", 0, 120s)) {
            return fail("the servers never got ready");
        }
        // The warm-up polish must be out of the way.
        t::waitUntil([&] { return !handling(standins_, StandinKind::Llama).empty(); }, 30s);
        settle();
        return true;
    }

    // Holds the key for `seconds` while a short tone and then silence play; answers the time
    // from the release to the paste stroke minus the stand-ins' handling, in milliseconds.
    std::optional<double> dictate(double seconds) {
        const auto whisperKnown = handling(standins_, StandinKind::Whisper).size();
        const auto llamaKnown = handling(standins_, StandinKind::Llama).size();
        const std::optional<double> pasted = run_.releaseToPaste(seconds, 60s);
        if (!pasted) {
            return std::nullopt;
        }
        t::waitUntil([&] {
            return handling(standins_, StandinKind::Whisper).size() > whisperKnown &&
                   handling(standins_, StandinKind::Llama).size() > llamaKnown;
        });
        const double standins = handledAfter(standins_, StandinKind::Whisper, whisperKnown) +
                                handledAfter(standins_, StandinKind::Llama, llamaKnown);
        std::fprintf(stderr,
                     "app_bench: %.0f s dictation: release to paste %.1f ms, stand-ins %.1f ms\n",
                     seconds, *pasted * 1000, standins * 1000);
        settle();
        return (*pasted - standins) * 1000;
    }

    // Escape while a slow transcription is in flight, then at once the dictation key again: the
    // time from the Escape stroke until the next recording shows, in milliseconds.
    std::optional<double> cancelToIdle() {
        standins_.configure(
            StandinKind::Whisper,
            {{"text", " esto no debe llegar\n"}, {"delay", 20}, {"record_bodies", false}});
        const auto wav = t::toneWav(run_.home().root() / "cancel.wav", 0.5, 1.5);
        const auto requests = standins_.requests(StandinKind::Whisper, "/inference").size();
        const auto from = run_.hud().mark();
        desk_.key(t::kDictationKey, true);
        if (!run_.hud().waitFor("Escuchando", from)) {
            desk_.key(t::kDictationKey, false);
            fail("the recording never started");
            return std::nullopt;
        }
        t::ChildProcess player(t::playArguments(wav));
        t::waitUntil([] { return false; }, 1500ms);
        const auto released = run_.hud().mark();
        desk_.key(t::kDictationKey, false);
        // The panel's title is read every 30 ms: unless "Transcribiendo" was seen in between, a
        // quick Escape and the next "Escuchando" would look like no change at all.
        const bool inFlight = t::waitUntil([&] {
            return standins_.requests(StandinKind::Whisper, "/inference").size() > requests &&
                   run_.hud().sawSince("Transcribiendo", released);
        });
        player.stop();
        if (!inFlight) {
            fail("the transcription never reached the server, or the panel never said so");
            return std::nullopt;
        }
        const auto escape = run_.hud().mark();
        const double pressed = t::monotonicSeconds();
        desk_.tap("Escape");
        desk_.key(t::kDictationKey, true);
        run_.hud().waitFor("Escuchando", escape, 10s);
        const auto seen = run_.hud().firstSeen("Escuchando", escape);
        desk_.key(t::kDictationKey, false);
        desk_.tap("Escape");
        standins_.configure(StandinKind::Whisper, {{"text", " esto es una prueba de latencia\n"},
                                                   {"record_bodies", false}});
        settle();
        if (!seen) {
            fail("no new recording after the cancel; the panel showed: " +
                 run_.hud().shownSince(escape));
            return std::nullopt;
        }
        return (*seen - pressed) * 1000;
    }

    // The desktop has no tray host, so the application opened its setup window at the start,
    // and its checks run while it is open. A user closes it; so does this.
    bool closeSetupWindow() {
        auto open = [&] {
            for (const auto& window : desk_.windowsOf(run_.app().pid())) {
                if (window.viewable && window.title == "Vozmo") {
                    return window.id;
                }
            }
            return 0ul;
        };
        const unsigned long window = open();
        if (window != 0 && !closeLikeAUser(window)) {
            return false;
        }
        return t::waitUntil([&] { return open() == 0; }, 10s);
    }

    // Processor share over `seconds` of idling, in percent of one core.
    double idleCpu(double seconds) {
        if (!closeSetupWindow()) {
            fail("the setup window did not close");
        }
        // What closing it set off (the fade, the last checks) is not idling.
        t::waitUntil([] { return false; }, 2s);
        const std::string pid = std::to_string(run_.app().pid());
        const auto threadsBefore = threadTicks(pid);
        const long long before = cpuTicks(pid);
        t::waitUntil([] { return false; },
                     std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
        const long long after = cpuTicks(pid);
        // Where the time went, for whoever has to bring it down.
        for (const auto& [thread, ticks] : threadTicks(pid)) {
            auto was = threadsBefore.find(thread);
            long long spent = ticks.second - (was != threadsBefore.end() ? was->second.second : 0);
            if (spent > 0) {
                std::fprintf(stderr, "app_bench: idle thread %s (%s): %lld ticks\n", thread.c_str(),
                             ticks.first.c_str(), spent);
            }
        }
        return double(after - before) / double(::sysconf(_SC_CLK_TCK)) / seconds * 100.0;
    }

    // Name and ticks of every thread of the process.
    static std::map<std::string, std::pair<std::string, long long>>
    threadTicks(const std::string& pid) {
        std::map<std::string, std::pair<std::string, long long>> threads;
        std::error_code ec;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + pid + "/task", ec)) {
            const std::string tid = entry.path().filename().string();
            std::ifstream comm(entry.path() / "comm");
            std::string name;
            std::getline(comm, name);
            threads[tid] = {name, cpuTicks(pid + "/task/" + tid)};
        }
        return threads;
    }

    double rss() { return rssMegabytes(run_.app().pid()); }

    bool fail(const std::string& why) { return run_.fail(why); }

private:
    // The panel gone and the clipboard given back: nothing of the last dictation still runs.
    void settle() { run_.settle(3s); }

    vozmo::bench::BenchApp run_{"app_bench"};
    t::StandinDir& standins_ = run_.standins();
    t::Desk& desk_ = run_.desk();
};

void figure(const char* name, std::optional<double> ms) {
    if (ms) {
        std::printf("%s: %.1f ms (target <= 30 ms beyond the stand-ins)\n", name, *ms);
    } else {
        std::printf("%s: failed\n", name);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    Bench bench;
    if (!bench.start()) {
        std::printf("app_latency_5s: failed\n");
        return 1;
    }
    // The middle of three short dictations; one long one.
    std::vector<double> short_;
    for (int i = 0; i < 3; ++i) {
        if (auto ms = bench.dictate(5.0)) {
            short_.push_back(*ms);
        }
    }
    std::optional<double> median;
    if (!short_.empty()) {
        std::sort(short_.begin(), short_.end());
        median = short_[short_.size() / 2];
    }
    figure("app_latency_5s", median);
    figure("app_latency_60s", bench.dictate(60.0));

    if (auto ms = bench.cancelToIdle()) {
        std::printf("cancel_to_idle: %.1f ms (target <= 100 ms)\n", *ms);
    } else {
        std::printf("cancel_to_idle: failed\n");
    }
    std::fflush(stdout);

    std::printf("app_idle_cpu: %.3f %% of one core (target <= 0.05 %%)\n", bench.idleCpu(60.0));
    std::printf("app_idle_rss: %.1f MB (target <= 60 MB)\n", bench.rss());
    return median ? 0 : 1;
}
