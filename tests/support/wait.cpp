#include "wait.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <thread>

namespace vozmo::test {

namespace {

using Clock = std::chrono::steady_clock;

void pumpOnce() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // Deferred deletes and posted events processEvents() leaves for the next loop turn.
        QCoreApplication::sendPostedEvents();
    }
    // A condition that depends on another thread or process gets the processor meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        pumpOnce();
    }
    return true;
}

void pumpFor(std::chrono::milliseconds time) {
    const auto deadline = Clock::now() + time;
    do {
        pumpOnce();
    } while (Clock::now() < deadline);
}

} // namespace vozmo::test
