#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QLocalServer;

namespace vozmo {

// One running Vozmo per user. The first instance listens on a private local socket; a later
// launch asks it to open its setup window and then ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another instance answered and took the request; this process should exit.
    bool askRunningInstance();
    // Starts listening; `onShowSetup` runs on the main thread for every later launch.
    bool listen(std::function<void()> onShowSetup);

private:
    QLocalServer* server_ = nullptr; // owned as a QObject child
    std::function<void()> onShowSetup_;
};

} // namespace vozmo
