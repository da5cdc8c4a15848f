#include "status_icon.h"

#include "hud_mode.h"
#include "log.h"

#include <QGuiApplication>
#include <QPalette>
#include <QSystemTrayIcon>

namespace vozmo {

StatusIconLook statusIconLook(State state, bool whisperReady) {
    switch (state) {
    case State::recording:
        return {Glyph::waveformCircleFill, "waveform.circle.fill", true};
    case State::processing:
        return {Glyph::ellipsisCircle, "ellipsis.circle", false};
    case State::idle:
        break;
    }
    return whisperReady ? StatusIconLook{Glyph::waveform, "waveform", false}
                        : StatusIconLook{Glyph::hourglass, "hourglass", false};
}

StatusIcon::StatusIcon(QObject* parent)
    : QObject(parent), look_(statusIconLook(State::idle, false)) {}

void StatusIcon::install(QMenu* menu) {
    if (tray_ != nullptr) {
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log("No hay bandeja del sistema: Vozmo sigue sin icono de estado");
    }
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu);
    tray_->setToolTip(QStringLiteral("Vozmo"));
    update(State::idle, false);
    tray_->show();
}

void StatusIcon::update(State state, bool whisperReady) {
    if (tray_ == nullptr) {
        return;
    }
    look_ = statusIconLook(state, whisperReady);
    // Monochrome in the theme's text colour, as a template image would be, except red while
    // recording.
    const QColor color =
        look_.red ? HUDColors::red : QGuiApplication::palette().color(QPalette::WindowText);
    tray_->setIcon(glyphIcon(look_.glyph, color));
    tray_->setToolTip(QStringLiteral("Vozmo"));
}

} // namespace vozmo
