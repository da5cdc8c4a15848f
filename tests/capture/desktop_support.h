#pragma once

#include "wait.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

namespace vozmo::test {

// Runs a program (no shell) to its end; answers its exit status, -1 when it did not finish in
// time (it is killed then). Output goes to `output` when given.
inline int run(const std::vector<std::string>& argv, std::string* output = nullptr,
               int seconds = 60) {
    QProcess process;
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        args << QString::fromStdString(argv[i]);
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(argv.at(0)), args);
    if (!process.waitForFinished(seconds * 1000)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    if (output != nullptr) {
        *output = process.readAll().toStdString();
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Turns the Qt event loop until `done` holds or the (generous) deadline passes.
inline bool waitFor(const std::function<bool()>& done, double seconds = 20.0) {
    return waitUntil(done, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
}

} // namespace vozmo::test
