#include "focused_app_atspi.h"

#include "atspi_support.h"

#include <memory>

namespace vozmo {

namespace {

using atspi::connected;
using atspi::GErrorHolder;
using atspi::GRef;

bool isActive(AtspiAccessible* window) {
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(window));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
}

std::optional<TargetApp> activeIn(AtspiAccessible* app) {
    // States are cached per application; the active window changes without us listening.
    atspi_accessible_clear_cache(app);
    GErrorHolder error;
    const gint windows = atspi_accessible_get_child_count(app, error.out());
    for (gint i = 0; !error.failed() && i < windows; ++i) {
        GRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, i, error.out()));
        if (!window || error.failed() || !isActive(window.get())) {
            continue;
        }
        TargetApp target;
        GErrorHolder detail;
        target.pid = static_cast<pid_t>(atspi_accessible_get_process_id(app, detail.out()));
        if (detail.failed()) {
            target.pid = 0;
        }
        gchar* name = atspi_accessible_get_name(app, detail.out());
        if (name != nullptr) {
            target.appId = name;
            g_free(name);
        }
        return target;
    }
    return std::nullopt;
}

} // namespace

std::optional<TargetApp> AtspiFocusedApp::focused() {
    if (!connected()) {
        return std::nullopt;
    }
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return std::nullopt;
    }
    GErrorHolder error;
    const gint apps = atspi_accessible_get_child_count(desktop.get(), error.out());
    for (gint i = 0; !error.failed() && i < apps; ++i) {
        GRef<AtspiAccessible> app(
            atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
        if (!app || error.failed()) {
            continue;
        }
        if (auto target = activeIn(app.get())) {
            return target;
        }
    }
    return std::nullopt;
}

std::string atspiFocusedAppProblem() {
    if (!connected()) {
        return "no hay bus de accesibilidad (AT-SPI)";
    }
    return "";
}

std::unique_ptr<TargetWindow> makeAtspiFocusedApp() {
    return std::make_unique<AtspiFocusedApp>();
}

} // namespace vozmo
