#pragma once

#include "dictation_state.h"
#include "glyphs.h"
#include "status_menu.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <string_view>

class QMenu;

namespace vozmo {

// The icon for one moment: the glyph, its symbol name, and whether it is tinted red.
struct StatusIconLook {
    Glyph glyph;
    std::string_view symbolName; // the vocabulary of the icon states
    bool red;
    bool operator==(const StatusIconLook&) const = default;
};

StatusIconLook statusIconLook(State state, bool whisperReady);
// The tooltip: the name and what Vozmo is doing or waiting for, e.g. "Vozmo · Listo".
QString statusToolTip(State state, const Readiness& servers);

// The tray icon that shows the dictation state at a glance. Main thread only.
class StatusIcon : public QObject {
    Q_OBJECT
public:
    explicit StatusIcon(QObject* parent = nullptr);

    // Creates the tray icon with its menu, opened by either mouse button; without a tray host
    // it logs that once and the application runs on without an icon.
    void install(QMenu* menu);
    bool installed() const { return tray_ != nullptr; }
    // A tray host showed the icon when it was installed.
    bool visibleInTray() const { return trayHost_; }

    // Redraws the icon and its tooltip; does nothing before install().
    void update(State state, const Readiness& servers);

    QSystemTrayIcon* tray() const { return tray_; }
    const StatusIconLook& look() const { return look_; }

private:
    QPointer<QSystemTrayIcon> tray_;
    QPointer<QMenu> menu_;
    StatusIconLook look_;
    bool trayHost_ = false;
};

} // namespace vozmo
