#pragma once

#include "wait.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vozmo::test {

using namespace std::chrono_literals;

// Runs the event loop (so our clipboard stays served) until `done` holds or `limit` passes.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    return waitUntil(done, limit);
}

// A child process with line-based standard input and output; stopped by its pid on
// destruction whatever the outcome of the test.
class Child {
public:
    Child(const QString& program, const QStringList& args,
          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    qint64 pid() const { return process_->processId(); }
    void send(const std::string& line);
    // The next line that starts with `prefix` (earlier lines are dropped), without the prefix.
    std::optional<std::string> expect(const std::string& prefix,
                                      std::chrono::milliseconds limit = 10s);
    // Every line received so far.
    const std::string& transcript() const { return transcript_; }
    bool finished(std::chrono::milliseconds limit);
    int exitCode() const { return process_->exitCode(); }

private:
    std::unique_ptr<QProcess> process_;
    std::string pending_;
    std::string transcript_;
    void readAvailable();
};

// Runs a short command while pumping the event loop; its standard output, or absent when it
// failed or took longer than `limit`.
std::optional<std::string> runCommand(const QString& program, const QStringList& args,
                                      std::chrono::milliseconds limit = 10s);

// What the CLIPBOARD offers now, read by xclip as another program would.
std::optional<std::string> clipboardTargets();
std::optional<std::string> clipboardBytes(const std::string& mimeType);

} // namespace vozmo::test
