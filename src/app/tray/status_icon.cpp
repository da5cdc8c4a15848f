#include "status_icon.h"

#include "hud_mode.h"
#include "log.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
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

QString statusToolTip(State state, const Readiness& servers) {
    QString doing;
    switch (state) {
    case State::recording:
        doing = QStringLiteral("Escuchando");
        break;
    case State::processing:
        doing = QStringLiteral("Transcribiendo");
        break;
    case State::idle:
        if (!servers.whisperAvailable) {
            doing = QStringLiteral("Falta configurar");
        } else if (!servers.whisperReady) {
            doing = QStringLiteral("Cargando Whisper…");
        } else {
            doing = QStringLiteral("Listo");
        }
        break;
    }
    return QStringLiteral("Vozmo · ") + doing;
}

StatusIcon::StatusIcon(QObject* parent)
    : QObject(parent), look_(statusIconLook(State::idle, false)) {}

void StatusIcon::install(QMenu* menu) {
    if (tray_ != nullptr) {
        return;
    }
    trayHost_ = QSystemTrayIcon::isSystemTrayAvailable();
    if (!trayHost_) {
        log("No hay bandeja del sistema: Vozmo sigue sin icono de estado");
    }
    menu_ = menu;
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu);
    // A left click is what most Linux tray users try first: it opens the same menu.
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger && menu_ && !menu_->isVisible()) {
                    menu_->popup(QCursor::pos());
                }
            });
    update(State::idle, Readiness{});
    tray_->show();
}

void StatusIcon::update(State state, const Readiness& servers) {
    if (tray_ == nullptr) {
        return;
    }
    look_ = statusIconLook(state, servers.whisperReady);
    // Monochrome in the theme's text colour, as a template image would be, except red while
    // recording.
    const QColor color =
        look_.red ? HUDColors::red : QGuiApplication::palette().color(QPalette::WindowText);
    tray_->setIcon(glyphIcon(look_.glyph, color));
    tray_->setToolTip(statusToolTip(state, servers));
}

} // namespace vozmo
