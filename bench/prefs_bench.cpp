// The cost of the settings one dictation reads (language, polish, fast transcription, sounds,
// hotkey) from a settled preferences file of a typical size.
#include "config.h"
#include "prefs.h"
#include "temp_home.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main() {
    vozmo::test::TempHome home;
    std::string extra;
    for (int i = 0; i < 40; ++i) {
        extra += ",\"flag" + std::to_string(i) + "\": true";
    }
    vozmo::test::writeFile(vozmo::config().prefsFile,
                           R"({"polish": true, "hotkey": "ropt", "language": "es")" + extra + "}");
    // Settled, as the file is a few seconds after its last change.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    vozmo::Prefs::polish();

    constexpr int kRounds = 2000;
    std::vector<double> micros;
    bool sink = false;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        sink ^= vozmo::Prefs::language() == "es";
        sink ^= vozmo::Prefs::polish();
        sink ^= vozmo::Prefs::fastTranscription();
        sink ^= vozmo::Prefs::sounds();
        sink ^= vozmo::Prefs::hotkey() == "ropt";
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("prefs_per_dictation: %.1f us for five settings (target <= 50 us)%s\n",
                micros[micros.size() / 2], sink ? "" : " ");
    return 0;
}
