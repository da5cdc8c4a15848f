#include "desktop_support.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <csignal>

namespace vozmo::test {

Child::Child(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    : process_(std::make_unique<QProcess>()) {
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(program, args);
    process_->waitForStarted(10000);
}

Child::~Child() {
    if (process_->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process_->processId()), SIGTERM);
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(3000);
        }
    }
}

void Child::send(const std::string& line) {
    process_->write(QByteArray::fromStdString(line + "\n"));
    process_->waitForBytesWritten(1000);
}

void Child::readAvailable() {
    QByteArray bytes = process_->readAllStandardOutput();
    pending_ += bytes.toStdString();
    transcript_ += bytes.toStdString();
}

std::optional<std::string> Child::expect(const std::string& prefix,
                                         std::chrono::milliseconds limit) {
    std::optional<std::string> found;
    pumpUntil(
        [&] {
            readAvailable();
            for (size_t end = pending_.find('\n'); end != std::string::npos;
                 end = pending_.find('\n')) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.rfind(prefix, 0) == 0) {
                    found = line.substr(prefix.size());
                    return true;
                }
            }
            return process_->state() == QProcess::NotRunning;
        },
        limit);
    return found;
}

bool Child::finished(std::chrono::milliseconds limit) {
    return pumpUntil([&] { return process_->state() == QProcess::NotRunning; }, limit);
}

std::optional<std::string> runCommand(const QString& program, const QStringList& args,
                                      std::chrono::milliseconds limit) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(5000)) {
        return std::nullopt;
    }
    bool done = pumpUntil([&] { return process.state() == QProcess::NotRunning; }, limit);
    if (!done) {
        process.kill();
        process.waitForFinished(3000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

std::optional<std::string> clipboardTargets() {
    return runCommand("xclip", {"-selection", "clipboard", "-o", "-t", "TARGETS"});
}

std::optional<std::string> clipboardBytes(const std::string& mimeType) {
    return runCommand("xclip",
                      {"-selection", "clipboard", "-o", "-t", QString::fromStdString(mimeType)});
}

} // namespace vozmo::test
