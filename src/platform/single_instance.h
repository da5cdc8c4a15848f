#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

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
    // Hands a dictation-key action ("press", "release", "toggle", "cancel") to the running
    // instance; true once it has taken it, false when no instance answers. Needs no event loop.
    static bool sendKey(const std::string& action);
    // Starts listening; `onShowSetup` runs on the main thread for every later launch.
    bool listen(std::function<void()> onShowSetup);
    // Where key actions sent by sendKey() go, on the main thread; set before or after listen().
    void onKey(std::function<void(const std::string& action)> handler);

private:
    QLocalServer* server_ = nullptr; // owned as a QObject child
    std::function<void()> onShowSetup_;
    std::function<void(const std::string&)> onKey_;
};

} // namespace vozmo
