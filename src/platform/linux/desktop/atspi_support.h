#pragma once

// What every user of the accessibility bus needs: owners for libatspi's GObjects and GErrors,
// and the one connection of the process.

#include <atspi/atspi.h>

#include <memory>

namespace vozmo::atspi {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GRef = std::unique_ptr<T, GObjectUnref>;

struct GErrorHolder {
    GError* error = nullptr;
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder&) = delete;
    GErrorHolder& operator=(const GErrorHolder&) = delete;
    ~GErrorHolder() { g_clear_error(&error); }
    GError** out() {
        g_clear_error(&error);
        return &error;
    }
    bool failed() const { return error != nullptr; }
};

// libatspi connects once per process and cannot try again after a failure, so its outcome is
// kept for the life of the process. The call limit is process-wide too: a hung application
// must not hold a dictation up for long.
inline bool connected() {
    static const bool ok = [] {
        const int status = atspi_init();
        if (status == 0 || status == 1) {
            atspi_set_timeout(400, -1);
            return true;
        }
        return false;
    }();
    return ok;
}

} // namespace vozmo::atspi
