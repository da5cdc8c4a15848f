// The longest stall of the main thread over a scripted session in which everything the
// application waits on misbehaves: the clipboard's owner is frozen (SIGSTOP), PulseAudio is
// stopped (SIGSTOP) and the desktop portal never answers a key. The application's own parts run
// on the main thread as the application runs them: each key press starts the capture, reads the
// clipboard ahead and asks the microphone's status; each release is followed by a paste (the
// snapshot, the stroke through the portal, the wait for the reader); the setup window's probes
// run every second throughout. A 1 ms timer on the main thread measures the gaps.
#include "audio_input.h"
#include "clipboard_x11.h"
#include "paste.h"
#include "portal_key_synth.h"
#include "recorder.h"
#include "standin.h"
#include "target_window_x11.h"
#include "temp_home.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vozmo::test::ChildProcess;

bool fileHas(const fs::path& file, const std::string& text) {
    std::ifstream in(file);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    return content.find(text) != std::string::npos;
}

bool pulseAnswers(const std::string& address) {
    return std::system(("pactl -s " + address + " info >/dev/null 2>&1").c_str()) == 0;
}

// A program owning the clipboard that then freezes, as a hung application does.
std::unique_ptr<ChildProcess> frozenOwner(const fs::path& folder, int round) {
    const fs::path out = folder / ("owner" + std::to_string(round) + ".out");
    auto owner = std::make_unique<ChildProcess>(
        std::vector<std::string>{CLIPBOARD_OWNER, "text/plain=del usuario",
                                 "text/html=<b>del usuario</b>"},
        std::map<std::string, std::string>{}, out);
    if (!QTest::qWaitFor([&] { return fileHas(out, "ready"); }, 10000)) {
        return nullptr;
    }
    QTest::qWait(100); // our own news of the new owner
    ::kill(owner->pid(), SIGSTOP);
    return owner;
}

void thaw(ChildProcess& child) {
    ::kill(child.pid(), SIGCONT);
    child.stop(std::chrono::milliseconds(500));
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    vozmo::test::TempHome home;
    const fs::path folder = home.path();

    // A PulseAudio of our own, so that stopping it disturbs no one else; its runtime folder
    // must be private to it (0700).
    char pulseName[] = "/tmp/vozmo-stall-XXXXXX";
    const fs::path pulseFolder = ::mkdtemp(pulseName);
    const std::string pulseAddress = "unix:" + (pulseFolder / "native").string();
    ChildProcess pulse({"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                        "--use-pid-file=no", "--load=module-null-sink sink_name=bsink",
                        "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                            (pulseFolder / "native").string()},
                       // Nothing of the test desktop's own server: not its configuration nor
                       // its bus name.
                       {{"XDG_RUNTIME_DIR", pulseFolder.string()},
                        {"HOME", pulseFolder.string()},
                        {"XDG_CONFIG_HOME", pulseFolder.string()},
                        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
                       folder / "pulse.out");
    if (!QTest::qWaitFor([&] { return pulseAnswers(pulseAddress); }, 15000)) {
        std::fprintf(stderr, "stall_bench: PulseAudio did not start\n");
        return 1;
    }
    QProcess::execute(QStringLiteral("pactl"),
                      {QStringLiteral("-s"), QString::fromStdString(pulseAddress),
                       QStringLiteral("set-default-source"), QStringLiteral("bsink.monitor")});
    ::setenv("PULSE_SERVER", pulseAddress.c_str(), 1);

    // The stand-in portal: its session opens, its keys are never answered.
    std::ofstream(folder / "portal.json") << R"({"hang": ["NotifyKeyboardKeysym"]})";
    ChildProcess portal(
        {PORTAL_STANDIN, (folder / "portal.jsonl").string(), (folder / "portal.json").string()}, {},
        folder / "portal.out");
    auto bus = QDBusConnection::sessionBus();
    if (!QTest::qWaitFor(
            [&] {
                return bus.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            10000)) {
        std::fprintf(stderr, "stall_bench: the stand-in portal did not start\n");
        return 1;
    }

    vozmo::SoundServer sound;
    vozmo::PortalKeySynth keys(bus);
    keys.begin();
    if (!QTest::qWaitFor(
            [&] {
                return keys.ready() &&
                       sound.microphoneStatus() == vozmo::MicrophoneStatus::authorized;
            },
            10000)) {
        std::fprintf(stderr, "stall_bench: not ready: %s\n", keys.problem().c_str());
        return 1;
    }
    vozmo::X11Clipboard clipboard;
    vozmo::X11TargetWindow windows;
    vozmo::Paster paster(clipboard, keys, windows);
    vozmo::Recorder recorder{[&] { return sound.makeInput(); }};

    ::kill(pulse.pid(), SIGSTOP);

    // The setup window's probes, every second as while its window is open.
    QTimer probes;
    probes.setInterval(1000);
    QObject::connect(&probes, &QTimer::timeout, [&] {
        sound.microphoneStatus();
        sound.running();
    });
    probes.start();

    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    qint64 worst = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            worst = std::max(worst, now - last);
        }
        last = now;
    });

    constexpr int rounds = 3;
    int pasted = 0;
    for (int round = 0; round < rounds; ++round) {
        beat.stop();
        auto owner = frozenOwner(folder, round);
        if (!owner) {
            std::fprintf(stderr, "stall_bench: the clipboard owner did not start\n");
            return 1;
        }
        last = -1;
        beat.start();
        // The key goes down: capture, clipboard read ahead, status for the panel.
        recorder.start();
        paster.prepare();
        sound.microphoneStatus();
        QTest::qWait(1200); // speaking
        recorder.stop();
        QTest::qWait(300); // transcribing
        pasted += paster.paste("dictado de prueba") ? 1 : 0;
        QTest::qWait(2000);
        beat.stop();
        thaw(*owner);
    }
    beat.start();
    last = -1;
    QTest::qWait(6000); // every late answer and restore
    beat.stop();

    ::kill(pulse.pid(), SIGCONT);
    pulse.stop();
    std::error_code ignored;
    fs::remove_all(pulseFolder, ignored);
    std::printf("main_thread_stall_max: %.1f ms (target <= 50 ms; %d presses and pastes with a "
                "frozen clipboard owner, a stopped PulseAudio and a portal that never answers "
                "keys; %d strokes accepted)\n",
                static_cast<double>(worst) / 1e6, rounds, pasted);
    return 0;
}
