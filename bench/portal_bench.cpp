// The desktop portal on Wayland, against the stand-in portal on the test desktop's session bus:
// the time a Ctrl+V stroke takes through the remote desktop session, and from a global
// shortcut's Activated signal to the key handler.
#include "portal_key_synth.h"
#include "portal_shortcuts.h"
#include "standin.h"
#include "temp_home.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool activate(const QString& method) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/vozmo/test"),
        QStringLiteral("org.vozmo.test.PortalControl"), method);
    call << QStringLiteral("dictar");
    return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vozmo::test::TempHome home;
    vozmo::test::ChildProcess portal({PORTAL_STANDIN, (home.path() / "portal.jsonl").string()}, {},
                                     home.path() / "portal.out");
    auto bus = QDBusConnection::sessionBus();
    if (!QTest::qWaitFor(
            [&] {
                return bus.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            10000)) {
        std::fprintf(stderr, "portal_bench: the stand-in portal did not start\n");
        return 1;
    }

    vozmo::PortalKeySynth synth(bus);
    synth.begin();
    if (!QTest::qWaitFor([&] { return synth.ready(); }, 10000)) {
        std::fprintf(stderr, "portal_bench: %s\n", synth.problem().c_str());
        return 1;
    }
    constexpr int kRounds = 50;
    std::vector<double> strokes;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        if (!synth.send({"v", true, false})) {
            std::fprintf(stderr, "portal_bench: %s\n", synth.problem().c_str());
            return 1;
        }
        strokes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("portal_paste: %.1f ms (target <= 30 ms; Ctrl+V through the remote desktop "
                "portal, median of %d)\n",
                median(strokes), kRounds);

    vozmo::PortalShortcuts shortcuts(bus);
    Clock::time_point delivered;
    int events = 0;
    shortcuts.start([&](const vozmo::KeyEvent&) {
        delivered = Clock::now();
        ++events;
    });
    if (!QTest::qWaitFor([&] { return shortcuts.bound(); }, 10000)) {
        std::fprintf(stderr, "portal_bench: %s\n", shortcuts.problem().c_str());
        return 1;
    }
    std::vector<double> keys;
    for (int i = 0; i < kRounds; ++i) {
        const int before = events;
        const auto start = Clock::now();
        // The control call returns once the stand-in has emitted the signal.
        if (!activate(i % 2 == 0 ? QStringLiteral("Activate") : QStringLiteral("Deactivate")) ||
            !QTest::qWaitFor([&] { return events > before; }, 5000)) {
            std::fprintf(stderr, "portal_bench: no key event from the portal\n");
            return 1;
        }
        keys.push_back(std::chrono::duration<double, std::milli>(delivered - start).count());
    }
    std::printf("portal_key_event: %.1f ms (target <= 30 ms; from asking the portal to emit "
                "Activated to the key handler, median of %d)\n",
                median(keys), kRounds);
    return 0;
}
