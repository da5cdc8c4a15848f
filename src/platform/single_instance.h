#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace vozmo {

// One running Vozmo per user. The first instance holds a lock file in the user's runtime folder
// for as long as it lives, and listens on a private local socket beside it; a later launch finds
// the lock taken, asks the running instance to open its setup window and then ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the per-user lock, without waiting. True when this process is the one instance (or
    // the lock file cannot be opened at all, so nothing can be told); false when another live
    // process holds it. Needs no application object: take it before anything is built.
    bool claim();
    // Asks the instance that holds the lock to open its setup window; true once it has taken
    // the request. An instance still starting gets until `limit` to answer. Needs the
    // application object.
    bool askRunningInstance(std::chrono::milliseconds limit);
    // Hands a dictation-key action ("press", "release", "toggle", "cancel") to the running
    // instance; true once it has taken it, false when no instance answers. Needs no event loop.
    static bool sendKey(const std::string& action);
    // Starts listening, after claim() made this process the instance. A socket left by an
    // instance that ended is replaced; one whose owner lives is never touched. False, with the
    // reason in `error`, when nothing listens.
    bool listen(std::string* error = nullptr);
    // Where later launches' requests go, on the main thread; set before or after listen().
    void onShowSetup(std::function<void()> handler);
    // Where key actions sent by sendKey() go, on the main thread; set before or after listen().
    void onKey(std::function<void(const std::string& action)> handler);

private:
    int lockFile_ = -1;
    bool locked_ = false;
    QLocalServer* server_ = nullptr; // owned as a QObject child
    std::function<void()> onShowSetup_;
    std::function<void(const std::string&)> onKey_;
};

} // namespace vozmo
