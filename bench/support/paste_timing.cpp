#include "paste_timing.h"

#include "paste.h"

#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vozmo::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The desktop's stroke sender, noting when each stroke has gone out.
class TimedKeySynth : public KeySynth {
public:
    explicit TimedKeySynth(KeySynth& keys) : keys_(keys) {}
    bool send(const KeyStroke& stroke) override {
        const bool sent = keys_.send(stroke);
        sentAt = Clock::now();
        return sent;
    }
    Clock::time_point sentAt;

private:
    KeySynth& keys_;
};

std::string fileText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int timePastes(const PasteFigure& figure, Clipboard& clipboard, KeySynth& keys,
               TargetWindow& windows, const char* windowFile) {
    TimedKeySynth timed(keys);
    Paster paster(clipboard, timed, windows);
    constexpr int kRounds = 15;
    std::vector<double> times;
    std::string expected;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = "prueba " + std::to_string(i) + ". ";
        const auto start = Clock::now();
        if (!paster.paste(text)) {
            std::fprintf(stderr, "%s: the stroke was not sent\n", figure.bench);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(timed.sentAt - start).count());
        expected += text;
        // The restore runs, as between two dictations.
        QTest::qWait(static_cast<int>(kRestoreDelay.count()) + 200);
    }
    if (!QTest::qWaitFor([&] { return fileText(windowFile) == expected; }, 10000)) {
        std::fprintf(stderr, "%s: the window holds %s, not %s\n", figure.bench,
                     fileText(windowFile).c_str(), expected.c_str());
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: %.1f ms (target <= 30 ms; end of the pipeline to Ctrl+V sent %s, median of "
                "%d, slowest %.1f ms)\n",
                figure.name, times[times.size() / 2], figure.what, kRounds, times.back());
    return 0;
}

} // namespace vozmo::bench
