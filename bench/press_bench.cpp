// Key press to the first captured frame: the recorder started as a key press starts it, on a
// sound server connection kept open. Also the time the start itself takes on the calling (main)
// thread. The source is a PulseAudio of the bench's own with a generated source that delivers
// in small periods, as a microphone does: the test desktop's null-sink monitor delivers in
// blocks of up to 2 s while nothing plays, which says nothing of a microphone.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "audio_input.h"
#include "recorder.h"
#include "standin.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    constexpr int presses = 30;
    char name[] = "/tmp/vozmo-press-XXXXXX";
    const std::filesystem::path folder = ::mkdtemp(name);
    struct Cleanup {
        std::filesystem::path folder;
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } cleanup{folder}; // after the server below has stopped
    const std::string socket = (folder / "native").string();
    vozmo::test::ChildProcess pulse(
        {"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
         "--load=module-sine-source source_name=mic rate=48000",
         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket},
        // Nothing of the test desktop's own server: not its configuration nor its bus name.
        {{"XDG_RUNTIME_DIR", folder.string()},
         {"HOME", folder.string()},
         {"XDG_CONFIG_HOME", folder.string()},
         {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
        folder / "pulse.out");
    const std::string address = "unix:" + socket;
    const std::string ask = "pactl -s " + address + " set-default-source mic >/dev/null 2>&1";
    const auto giveUp = Clock::now() + std::chrono::seconds(15);
    while (std::system(ask.c_str()) != 0 && Clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::setenv("PULSE_SERVER", address.c_str(), 1);

    vozmo::SoundServer server;
    server.waitSettled(std::chrono::seconds(5));
    if (server.microphoneStatus() != vozmo::MicrophoneStatus::authorized) {
        std::fprintf(stderr, "press_bench: no PulseAudio source\n");
        return 1;
    }
    vozmo::Recorder recorder{[&] { return server.makeInput(); }};
    std::atomic<Clock::rep> firstChunk{0};
    recorder.onLevel = [&](float) {
        Clock::rep none = 0;
        firstChunk.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
    };

    std::vector<double> toCapture;
    std::vector<double> onCaller;
    for (int i = 0; i < presses; ++i) {
        firstChunk = 0;
        const auto pressed = Clock::now();
        if (auto error = recorder.start()) {
            std::fprintf(stderr, "press_bench: %s\n", error->description.c_str());
            return 1;
        }
        onCaller.push_back(ms(Clock::now() - pressed));
        const auto giveUp = pressed + std::chrono::seconds(2);
        while (firstChunk.load() == 0 && Clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (firstChunk.load() == 0) {
            std::fprintf(stderr, "press_bench: no audio within 2 s of a press\n");
            return 1;
        }
        toCapture.push_back(ms(Clock::duration(firstChunk.load()) - pressed.time_since_epoch()));
        recorder.stop();
        // Presses a human could make: not back to back.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf(
        "press_to_capture: %.1f ms (target <= 30 ms; median of %d presses, worst %.1f ms)\n",
        median(toCapture), presses, *std::max_element(toCapture.begin(), toCapture.end()));
    std::printf("press_start_on_main_thread: %.2f ms (target none; median, worst %.2f ms)\n",
                median(onCaller), *std::max_element(onCaller.begin(), onCaller.end()));
    return 0;
}
