#include "main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace vozmo {

void postToMain(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void runAfter(double seconds, std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), app, std::move(work));
}

} // namespace vozmo
