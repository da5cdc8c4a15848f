// A long run of the real application: 100 short dictations in a row into the target window,
// mixing plain ones, ones cancelled with Escape, ones too short to be heard and ones whose polish
// is refused. Prints the growth of resident memory, open descriptors and threads from dictation
// 20 to 100, and how many dictations lost or mangled the text or the user's clipboard.
#include "harness.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using vozmo::test::StandinKind;
namespace t = vozmo::test;
namespace fs = std::filesystem;

const std::string kClipboard = "lo que el usuario copió";

struct Usage {
    double rssMb = -1;
    long fds = -1;
    long threads = -1;
};

long entries(const fs::path& folder) {
    std::error_code ec;
    long count = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        ++count;
    }
    return ec ? -1 : count;
}

Usage usageOf(pid_t pid) {
    Usage usage;
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            usage.rssMb = std::stod(line.substr(6)) / 1024.0;
        }
    }
    usage.fds = entries(proc / "fd");
    usage.threads = entries(proc / "task");
    return usage;
}

enum class Kind { Plain, Cancelled, TooShort, PolishRefused };

const char* nameOf(Kind kind) {
    switch (kind) {
    case Kind::Plain:
        return "plain";
    case Kind::Cancelled:
        return "cancelled";
    case Kind::TooShort:
        return "too short";
    case Kind::PolishRefused:
        return "polish refused";
    }
    return "?";
}

Kind kindOf(int number) {
    switch (number % 10) {
    case 3:
        return Kind::Cancelled;
    case 6:
        return Kind::TooShort;
    case 8:
        return Kind::PolishRefused;
    default:
        return Kind::Plain;
    }
}

// Spoken words that the dictionary corrects ("guasap") and the polish keeps faithfully.
const std::vector<std::string> kPhrases = {
    "manda el mensaje por guasap", "llego tarde a la reunión", "compra pan y leche",
    "llama a Marta esta tarde",    "revisa el correo de Juan", "cierra la ventana del salón",
};

class Soak {
public:
    bool start() {
        if (!desk_.connected()) {
            return fail("no X display");
        }
        standins_.configure(StandinKind::Whisper, {{"record_bodies", false}});
        standins_.configure(StandinKind::Llama, {{"record_bodies", false}});
        clipboard_ = std::make_unique<t::ClipboardOwner>(kClipboard);
        if (!clipboard_->ready()) {
            return fail("the clipboard owner did not start");
        }
        target_ = std::make_unique<t::Target>(desk_);
        if (!target_->ready()) {
            return fail("the target window never got the focus");
        }
        // The tone plays on through every dictation, as a voice would be there when the user
        // speaks. Started long before the first one: a player's stream takes up to a second or
        // two to reach the sink's monitor on a loaded machine, and a recording begun meanwhile
        // hears nothing ("No te he oído").
        tone_ = t::toneWav(home_.root() / "tone.wav", 600.0, 0.0);
        startPlayer();
        app_ = std::make_unique<t::RunningApp>(home_, standins_);
        hud_ = std::make_unique<t::HudWatch>(desk_, app_->pid());
        if (!app_->waitForLog("whisper listo en", 0, 120s) ||
            !app_->waitForLog("llm listo en", 0, 120s)) {
            return fail("the servers never got ready");
        }
        t::waitUntil([&] { return answered(StandinKind::Llama) >= 1; }, 30s);
        settle();
        return true;
    }

    // One dictation; false when text was lost or wrong, or the clipboard not given back. Every
    // failure is explained on the spot, with what the application logged meanwhile.
    bool dictate(int number) {
        const std::string spoken = kPhrases[number % kPhrases.size()];
        const std::string raw = corrected(spoken);
        const std::string polished = capitalised(raw) + ".";
        const Kind kind = kindOf(number);
        Trace trace;
        trace.logFrom = app_->logSize();
        trace.whisperFrom = standins_.records(StandinKind::Whisper).size();
        trace.llamaFrom = standins_.records(StandinKind::Llama).size();
        trace.keysFrom = target_->keys().size();
        std::vector<std::string> problems;
        standins_.configure(StandinKind::Whisper,
                            {{"text", " " + spoken + "\n"}, {"record_bodies", false}});
        // Ten o'clock in the answer: a figure the dictation never had, so the check refuses it.
        standins_.configure(
            StandinKind::Llama,
            {{"content", kind == Kind::PolishRefused ? capitalised(raw) + " a las 10." : polished},
             {"record_bodies", false}});
        if (!target_->setText("")) {
            problems.push_back("the target did not answer");
        }
        if (!player_->running()) {
            startPlayer();
        }
        const auto from = hud_->mark();
        trace.hudFrom = from;
        switch (kind) {
        case Kind::Plain:
        case Kind::PolishRefused: {
            // Held for a second after the panel shows the recording: timed from the key press,
            // a loaded machine could leave the recording too short to count.
            desk_.key(t::kDictationKey, true);
            const bool listening = hud_->waitFor("Escuchando", from, 10s);
            t::waitUntil([] { return false; }, 1200ms);
            const double released = t::monotonicSeconds();
            desk_.key(t::kDictationKey, false);
            const bool pasted =
                listening && t::waitUntil(
                                 [&] {
                                     for (const auto& key : target_->keys()) {
                                         if (key.keysym == "v" && key.time > released) {
                                             return true;
                                         }
                                     }
                                     return false;
                                 },
                                 20s);
            const std::string expected = kind == Kind::Plain ? polished : raw;
            if (!listening) {
                problems.push_back("the recording never started");
            } else if (!pasted) {
                problems.push_back("no paste stroke within 20 s of the release, expected \"" +
                                   expected + "\"");
            } else if (!t::waitUntil([&] { return target_->text() == expected; }, 10s)) {
                problems.push_back("expected \"" + expected + "\", the target shows \"" +
                                   target_->text().value_or("?") + "\"");
            }
            break;
        }
        case Kind::Cancelled: {
            desk_.key(t::kDictationKey, true);
            const bool listening = hud_->waitFor("Escuchando", from, 10s);
            t::waitUntil([] { return false; }, 600ms);
            desk_.tap("Escape");
            desk_.key(t::kDictationKey, false);
            if (!listening || !hud_->waitFor("Cancelado", from, 10s)) {
                problems.push_back("not cancelled");
            }
            break;
        }
        case Kind::TooShort:
            desk_.tap(t::kDictationKey);
            desk_.tap(t::kDictationKey);
            if (!hud_->waitFor("No te he oído", from, 10s)) {
                problems.push_back("not refused as too short");
            }
            break;
        }
        settle();
        if (kind == Kind::Cancelled || kind == Kind::TooShort) {
            const auto text = target_->text();
            if (text != "") {
                problems.push_back("typed \"" + text.value_or("?") + "\" without a transcript");
            }
        }
        // The user's clipboard is back once the paste is over.
        if (!t::waitUntil([&] { return t::clipboardText() == kClipboard; }, 5s)) {
            problems.push_back("left the clipboard as \"" + t::clipboardText().value_or("?") +
                               "\"");
        }
        if (!problems.empty()) {
            explain(number, kind, problems, trace);
        }
        return problems.empty();
    }

    // Where each source stood when a dictation began: what came after belongs to it.
    struct Trace {
        std::size_t logFrom = 0;
        std::size_t whisperFrom = 0;
        std::size_t llamaFrom = 0;
        std::size_t keysFrom = 0;
        std::size_t hudFrom = 0;
    };

    void explain(int number, Kind kind, const std::vector<std::string>& problems,
                 const Trace& trace) {
        std::string why;
        for (const auto& problem : problems) {
            why += (why.empty() ? "" : "; ") + problem;
        }
        std::fprintf(stderr, "soak_bench: dictation %d (%s): %s\n", number, nameOf(kind),
                     why.c_str());
        std::fprintf(stderr, "  panel: %s\n", hud_->shownSince(trace.hudFrom).c_str());
        for (const auto& line : app_->logLines("", trace.logFrom)) {
            std::fprintf(stderr, "  log: %s\n", line.c_str());
        }
        const auto keys = target_->keys();
        for (std::size_t i = trace.keysFrom; i < keys.size(); ++i) {
            std::fprintf(stderr, "  target key: %s %s at %.3f\n", keys[i].keysym.c_str(),
                         keys[i].mods.c_str(), keys[i].time);
        }
        for (const auto& [name, kindOfServer, from] :
             {std::tuple{"whisper", StandinKind::Whisper, trace.whisperFrom},
              std::tuple{"llama", StandinKind::Llama, trace.llamaFrom}}) {
            const auto records = standins_.records(kindOfServer);
            for (std::size_t i = from; i < records.size(); ++i) {
                std::fprintf(stderr, "  %s: %s\n", name, summary(records[i]).c_str());
            }
        }
        std::fprintf(stderr, "  now: %.3f, clipboard \"%s\"\n", t::monotonicSeconds(),
                     t::clipboardText().value_or("?").c_str());
    }

    Usage usage() { return usageOf(app_->pid()); }
    bool running() { return app_->process().running(); }

    bool fail(const std::string& why) {
        std::fprintf(stderr, "soak_bench: %s\n", why.c_str());
        return false;
    }
    void dumpLog() {
        if (app_) {
            std::fprintf(stderr, "%s", app_->log().c_str());
        }
    }

private:
    // One stand-in record in a line: the event, and for work requests what was asked.
    static std::string summary(const nlohmann::json& record) {
        std::string line = record.value("event", "?");
        if (record.contains("request_number")) {
            line += " #" + std::to_string(record.value("request_number", 0));
        }
        if (record.contains("path")) {
            line += " " + record.value("path", "");
        }
        if (record.contains("seconds")) {
            line += " after " + std::to_string(record.value("seconds", 0.0)) + " s";
        }
        const auto& json = record.contains("json") ? record["json"] : nlohmann::json();
        if (json.is_object() && json.contains("messages") && json["messages"].is_array() &&
            !json["messages"].empty()) {
            line += ", last message " + json["messages"].back().value("content", "").substr(0, 80);
        }
        return line;
    }

    static std::string corrected(std::string text) {
        const std::string word = "guasap";
        if (auto at = text.find(word); at != std::string::npos) {
            text.replace(at, word.size(), "WhatsApp");
        }
        return text;
    }
    static std::string capitalised(std::string text) {
        if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
            text[0] = static_cast<char>(text[0] - 'a' + 'A');
        }
        return text;
    }

    int answered(StandinKind kind) const {
        int count = 0;
        for (const auto& entry : standins_.records(kind)) {
            count += entry.value("event", "") == "answered" ? 1 : 0;
        }
        return count;
    }

    void startPlayer() {
        player_ = std::make_unique<t::ChildProcess>(t::playArguments(tone_));
        t::waitUntil([] { return false; }, 3s);
    }

    // Nothing of the last dictation still runs: the panel gone and the clipboard restore due.
    void settle() {
        t::waitUntil([&] { return !hud_->panelVisible(); }, 15s);
        t::waitUntil([] { return false; }, 300ms);
    }

    t::Desk desk_;
    t::StandinDir standins_;
    t::AppHome home_;
    fs::path tone_;
    std::unique_ptr<t::ChildProcess> player_;
    std::unique_ptr<t::ClipboardOwner> clipboard_;
    std::unique_ptr<t::Target> target_;
    std::unique_ptr<t::RunningApp> app_;
    std::unique_ptr<t::HudWatch> hud_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    // A shorter run (an argument) is for trying the bench out; the figures come from 100.
    const int kDictations = argc > 1 ? std::max(5, std::atoi(argv[1])) : 100;
    const int kBaseline = kDictations / 5;
    Soak soak;
    if (!soak.start()) {
        soak.dumpLog();
        std::printf("soak_failed: failed to start\n");
        return 1;
    }
    Usage baseline;
    int failed = 0;
    int done = 0;
    for (int number = 1; number <= kDictations && soak.running(); ++number, ++done) {
        failed += soak.dictate(number) ? 0 : 1;
        if (number == kBaseline) {
            baseline = soak.usage();
        }
    }
    // An application that died part-way lost every dictation it did not do.
    failed += kDictations - done;
    const Usage last = soak.usage();
    // Each failed dictation has told its own story; an application that ended early tells it
    // in the whole log.
    if (done < kDictations) {
        soak.dumpLog();
    }
    std::fprintf(stderr,
                 "soak_bench: at %d: %.1f MB, %ld fds, %ld threads; at %d: %.1f MB, %ld "
                 "fds, %ld threads\n",
                 kBaseline, baseline.rssMb, baseline.fds, baseline.threads, done, last.rssMb,
                 last.fds, last.threads);
    if (done < kDictations || baseline.fds < 0 || last.fds < 0) {
        std::printf("soak_rss_growth: failed\nsoak_fd_growth: failed\nsoak_threads_growth: "
                    "failed\n");
    } else {
        std::printf("soak_rss_growth: %.1f MB (target <= 5 MB)\n", last.rssMb - baseline.rssMb);
        std::printf("soak_fd_growth: %ld (target 0)\n", last.fds - baseline.fds);
        std::printf("soak_threads_growth: %ld (target 0)\n", last.threads - baseline.threads);
    }
    std::printf("soak_failed: %d (target 0)\n", failed);
    return failed == 0 ? 0 : 1;
}
