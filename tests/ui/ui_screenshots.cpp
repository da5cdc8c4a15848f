// Renders the panel in each mode and the tray menu into PNG files for the documentation.
// Usage: ui_screenshots <folder> (the menu needs a display: run it on the test desktop).
#include "config.h"
#include "hud_view.h"
#include "prefs.h"
#include "status_menu.h"
#include "temp_home.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <string>

using namespace vozmo;

namespace {

bool savePanel(const QString& folder, const char* name, const HUDMode& mode, const Levels& levels,
               double phase) {
    const double scale = 2; // crisp on high-resolution screens
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    const QSizeF size = hudSize(mode, &image);
    image = QImage(static_cast<int>(size.width() * scale), static_cast<int>(size.height() * scale),
                   QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintHUDBackdrop(painter, size);
    paintHUD(painter, mode, levels, phase, size);
    painter.end();
    return image.save(folder + "/hud-" + name + ".png");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_screenshots <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    Levels speech{};
    for (int i = 0; i < kHUDBars; ++i) {
        speech[i] = levelBar(static_cast<float>(0.002 + 0.06 * (0.5 + 0.5 * std::sin(i * 0.9)) *
                                                            (0.4 + 0.6 * std::sin(i * 0.23))));
    }
    bool ok = true;
    ok &= savePanel(folder, "listening", HUDMode::listening(false), speech, 1.2);
    ok &= savePanel(folder, "handsfree", HUDMode::listening(true), speech, 1.2);
    ok &= savePanel(folder, "loading", HUDMode::loading(), {}, 1.0);
    ok &= savePanel(folder, "transcribing", HUDMode::transcribing(), {}, 2.0);
    ok &= savePanel(folder, "polishing", HUDMode::polishing(), {}, 3.0);
    ok &= savePanel(folder, "done", HUDMode::done(QStringLiteral("Listo · mantén Alt derecha")), {},
                    0);
    ok &= savePanel(
        folder, "message",
        HUDMode::message(QStringLiteral("No hay micrófono disponible"), HUDColors::orange), {}, 0);

    // Every glyph at 48 points, with its red variant below, for whoever picks one.
    {
        const int count = static_cast<int>(Glyph::globe) + 1;
        QImage sheet(count * 56 + 8, 2 * 56 + 8, QImage::Format_ARGB32_Premultiplied);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        for (int i = 0; i < count; ++i) {
            paintGlyph(painter, static_cast<Glyph>(i), QRectF(8 + 56 * i, 8, 48, 48), Qt::black);
            paintGlyph(painter, static_cast<Glyph>(i), QRectF(8 + 56 * i, 64, 48, 48),
                       HUDColors::red);
        }
        painter.end();
        ok &= sheet.save(folder + "/glyphs.png");
    }

    test::TempHome home;
    Prefs::setHotkey("ropt");
    StatusMenu menu(makeLoginItem(config().autostartFile, "/usr/bin/vozmo"));
    menu.readiness = [] { return Readiness{true, true, true, false, false, false, ""}; };
    menu.canUndoPolish = [] { return true; };
    menu.history = [] {
        return std::vector<HistoryEntry>{{"Nos vemos mañana a las diez en la oficina.",
                                          "nos vemos mañana a las diez en la oficina"}};
    };
    menu.rebuild();
    menu.menu()->adjustSize();
    ok &= menu.menu()->grab().save(folder + "/status-menu.png");
    if (!ok) {
        std::fprintf(stderr, "ui_screenshots: could not write the pictures\n");
    }
    return ok ? 0 : 1;
}
