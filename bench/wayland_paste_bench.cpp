// The paste on a wlroots compositor, run by bench/wayland_bench.py inside a headless sway
// session whose focused window is a GTK text view on Wayland: from the end of the pipeline (the
// text handed to the paste) to the Ctrl+V stroke sent through the virtual keyboard, with the
// user's clipboard saved and the dictation set on the compositor's clipboard first. The restore
// 0.8 s later is not part of it.
#include "paste.h"
#include "target_window_sway.h"
#include "virtual_keyboard_wayland.h"
#include "wayland_clipboard.h"

#include <QCoreApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The real virtual keyboard, noting when each stroke has gone out.
class TimedKeySynth : public vozmo::KeySynth {
public:
    bool send(const vozmo::KeyStroke& stroke) override {
        const bool sent = keyboard_.send(stroke);
        sentAt = Clock::now();
        return sent;
    }
    Clock::time_point sentAt;

private:
    vozmo::WaylandKeySynth keyboard_;
};

std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: wayland_paste_bench WINDOW_TEXT_FILE\n");
        return 2;
    }
    const char* socket = std::getenv("SWAYSOCK");
    vozmo::WaylandClipboard clipboard;
    if (!clipboard.ok() || socket == nullptr) {
        std::fprintf(stderr, "wayland_paste_bench: no sway session with data control\n");
        return 1;
    }
    TimedKeySynth keys;
    vozmo::SwayTargetWindow windows(socket);
    vozmo::Paster paster(clipboard, keys, windows);

    constexpr int kRounds = 15;
    std::vector<double> times;
    std::string expected;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = "prueba " + std::to_string(i) + ". ";
        const auto start = Clock::now();
        if (!paster.paste(text)) {
            std::fprintf(stderr, "wayland_paste_bench: the stroke was not sent\n");
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(keys.sentAt - start).count());
        expected += text;
        // The restore runs, as between two dictations.
        QTest::qWait(static_cast<int>(vozmo::kRestoreDelay.count()) + 200);
    }
    // Figures for strokes that went nowhere would mean nothing.
    if (!QTest::qWaitFor([&] { return fileText(argv[1]) == expected; }, 10000)) {
        std::fprintf(stderr, "wayland_paste_bench: the window holds %s, not %s\n",
                     fileText(argv[1]).c_str(), expected.c_str());
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("wayland_paste: %.1f ms (target <= 30 ms; end of the pipeline to Ctrl+V sent "
                "through the virtual keyboard on sway, median of %d, slowest %.1f ms)\n",
                times[times.size() / 2], kRounds, times.back());
    return 0;
}
