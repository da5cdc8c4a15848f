#include "main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <memory>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// In the runtime, though GCC 12's header does not declare them.
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace vozmo {

void postToMain(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
#if defined(__SANITIZE_THREAD__)
    // Qt's event queue hands the call to the main thread under a lock of its own that
    // ThreadSanitizer cannot see: the hand-over is told to it here, and the slot object Qt builds
    // around the call on this thread is left out of its view.
    auto handed = std::make_shared<std::function<void()>>(std::move(work));
    __tsan_release(handed.get());
    __tsan_ignore_thread_begin();
    QMetaObject::invokeMethod(
        app,
        [handed] {
            __tsan_acquire(handed.get());
            (*handed)();
        },
        Qt::QueuedConnection);
    __tsan_ignore_thread_end();
#else
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
#endif
}

void runAfter(double seconds, std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), app, std::move(work));
}

} // namespace vozmo
