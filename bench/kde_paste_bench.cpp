// The paste on KDE Plasma, run by bench/kde_bench.py inside a headless KDE session whose focused
// window is a GTK text view on Wayland: from the end of the pipeline (the text handed to the
// paste) to the Ctrl+V stroke sent through the RemoteDesktop portal, with the user's clipboard
// saved and the dictation set through data control first, all through the desktop's one choice
// of backends as the application makes it. The restore 0.8 s later is not part of it.
#include "paste.h"
#include "wayland_backends.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The desktop's own stroke sender, noting when each stroke has gone out.
class TimedKeySynth : public vozmo::KeySynth {
public:
    explicit TimedKeySynth(vozmo::KeySynth& keys) : keys_(keys) {}
    bool send(const vozmo::KeyStroke& stroke) override {
        const bool sent = keys_.send(stroke);
        sentAt = Clock::now();
        return sent;
    }
    Clock::time_point sentAt;

private:
    vozmo::KeySynth& keys_;
};

std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kde_paste_bench WINDOW_TEXT_FILE\n");
        return 2;
    }
    vozmo::Desktop desktop(vozmo::currentSession());
    desktop.start();
    if (!QTest::qWaitFor([&] { return desktop.canType(); }, 10000)) {
        std::fprintf(stderr, "kde_paste_bench: cannot type here: %s / %s\n",
                     desktop.backends().typing.describe("Escritura").c_str(),
                     desktop.backends().clipboard.describe("Portapapeles").c_str());
        return 1;
    }
    TimedKeySynth keys(desktop.typing());
    vozmo::Paster paster(desktop.clipboard(), keys, desktop.windows());

    constexpr int kRounds = 15;
    std::vector<double> times;
    std::string expected;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = "prueba " + std::to_string(i) + ". ";
        const auto start = Clock::now();
        if (!paster.paste(text)) {
            std::fprintf(stderr, "kde_paste_bench: the stroke was not sent\n");
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(keys.sentAt - start).count());
        expected += text;
        // The restore runs, as between two dictations.
        QTest::qWait(static_cast<int>(vozmo::kRestoreDelay.count()) + 200);
    }
    // Figures for strokes that went nowhere would mean nothing.
    if (!QTest::qWaitFor([&] { return fileText(argv[1]) == expected; }, 10000)) {
        std::fprintf(stderr, "kde_paste_bench: the window holds %s, not %s\n",
                     fileText(argv[1]).c_str(), expected.c_str());
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("kde_paste: %.1f ms (target <= 30 ms; end of the pipeline to Ctrl+V sent through "
                "the RemoteDesktop portal on KWin 5.27, median of %d, slowest %.1f ms)\n",
                times[times.size() / 2], kRounds, times.back());
    return 0;
}
