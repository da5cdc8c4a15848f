// Figures of the heads-up panel: the cost of one frame, and the processor time the panel
// takes while it animates and while it is hidden. Needs a display (bench/run provides one).
#include "hud.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <ctime>

using namespace vozmo;

namespace {

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Milliseconds per frame, over every mode, rendered as the panel does.
double frameMilliseconds() {
    const HUDMode modes[] = {HUDMode::listening(false),
                             HUDMode::listening(true),
                             HUDMode::loading(),
                             HUDMode::transcribing(),
                             HUDMode::polishing(),
                             HUDMode::done(QStringLiteral("Copiado")),
                             HUDMode::message(QStringLiteral("Cancelado"), HUDColors::grey)};
    QImage image(310, 48, QImage::Format_ARGB32_Premultiplied);
    Levels levels{};
    const int frames = 2100;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < frames; ++i) {
        levels[static_cast<std::size_t>(i % kHUDBars)] =
            levelBar(0.01f * static_cast<float>(i % 7));
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintHUDBackdrop(painter, QSizeF(310, 48));
        paintHUD(painter, modes[i % 7], levels, i * 0.12, QSizeF(310, 48));
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6 / frames;
}

// Percent of one core used by this process while its event loop runs for `seconds`; a plain
// event loop, since QTest::qWait polls and would add a cost of its own.
double cpuPercentOver(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    const double start = cpuSeconds();
    loop.exec();
    return (cpuSeconds() - start) / (static_cast<double>(clock.elapsed()) / 1000.0) * 100.0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::printf("hud_frame: %.3f ms (target <= 1 ms)\n", frameMilliseconds());

    HUD hud;
    hud.show(HUDMode::listening(false));
    QTest::qWait(300);
    // Levels arrive about 15 times a second from the recorder while listening.
    QTimer levels;
    int n = 0;
    QObject::connect(&levels, &QTimer::timeout,
                     [&] { hud.push(0.02f * static_cast<float>(1 + std::sin(++n * 0.3))); });
    levels.start(66);
    const double animating = cpuPercentOver(5.0);
    levels.stop();
    std::printf("hud_cpu_animating: %.1f %% of one core\n", animating);

    hud.hide(0);
    QElapsedTimer clock;
    clock.start();
    while (hud.view().isVisible() && clock.elapsed() < 5000) {
        QTest::qWait(20);
    }
    std::printf("hud_cpu_hidden: %.2f %% (target ≈ 0)\n", cpuPercentOver(5.0));
    return 0;
}
