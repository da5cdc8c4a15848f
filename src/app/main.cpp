#include "app.h"
#include "app_environment.h"
#include "command_line.h"
#include "config.h"
#include "display_loss.h"
#include "graphical_session.h"
#include "key_command.h"
#include "log.h"
#include "main_thread.h"
#include "quit_signals.h"
#include "self_test.h"
#include "servers.h"
#include "single_instance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

int runSelfTestMode(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The self-test runs off the main thread so the supervisor can post work to this loop.
    std::thread worker([] {
        int status = vozmo::runSelfTest();
        vozmo::postToMain([status] { QCoreApplication::exit(status); });
    });
    int status = app.exec();
    worker.join();
    return status;
}

int runApplicationMode(int argc, char** argv) {
    // Qt would abort (status 134) without a display it can use; say why and what to do, and
    // leave like any failed start.
    if (const std::string problem = vozmo::windowsProblem(); !problem.empty()) {
        std::fputs(problem.c_str(), stderr);
        return 1;
    }
    // The lock comes first, before anything is built: two launches at the same instant (the
    // session's autostart and a click in the menu) must not both become the instance.
    vozmo::SingleInstance instance;
    const bool first = instance.claim();
    vozmo::preferXWaylandForWindows();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("Vozmo");
    QApplication::setDesktopFileName("vozmo");

    if (!first) {
        // A second instance would sweep away the first one's servers: hand over and leave. The
        // first may still be starting, hence the long wait for its answer.
        if (instance.askRunningInstance(std::chrono::seconds(20))) {
            std::fputs("Vozmo ya está en marcha; abro su ventana\n", stdout);
            return 0;
        }
        std::fputs("Vozmo ya está en marcha, pero no responde. Ciérralo (o termina su proceso) y "
                   "ábrelo otra vez.\n",
                   stderr);
        return 1;
    }
    // Listening before the app is built lets a launch that comes meanwhile wait for the answer
    // instead of finding nobody.
    if (std::string error; !instance.listen(&error)) {
        std::fputs(("Vozmo no puede abrir su canal para otras órdenes (" + error +
                    "); revisa la carpeta XDG_RUNTIME_DIR.\n")
                       .c_str(),
                   stderr);
        return 1;
    }
    // Without its X server nothing can be shown or pasted: stop the servers and leave at once.
    vozmo::onDisplayLost([] { vozmo::Servers::stopAll(std::chrono::seconds(3)); });

    int status = 0;
    {
        vozmo::AppEnvironment environment = vozmo::linuxEnvironment();
        auto keyArrived = environment.keyCommandArrived;
        vozmo::App tray(std::move(environment));
        instance.onShowSetup([&tray] { tray.showSetup(); });
        instance.onKey([&tray, keyArrived](const std::string& action) {
            if (keyArrived) {
                keyArrived();
            }
            vozmo::applyKeyAction(tray, action);
        });
        // Every way to quit (the menu, SIGTERM, SIGINT, SIGHUP) ends the loop the same way.
        vozmo::installQuitSignals([] { QCoreApplication::quit(); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &tray, [&tray] { tray.shutdown(); });
        QTimer::singleShot(0, &tray, [&tray] { tray.start(); });
        status = app.exec();
        // The dictation in flight and the servers stop before the window objects go.
        tray.shutdown();
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    const vozmo::CommandLine command = vozmo::parseCommandLine(args);
    switch (command.mode) {
    case vozmo::CommandLine::Mode::usageError:
        std::fputs(vozmo::usageErrorText(command.badOption).c_str(), stderr);
        return vozmo::kUsageErrorStatus;
    case vozmo::CommandLine::Mode::help:
        std::fputs(vozmo::helpText().c_str(), stdout);
        return 0;
    case vozmo::CommandLine::Mode::version:
        std::printf("vozmo %s\n", VOZMO_VERSION);
        return 0;
    case vozmo::CommandLine::Mode::key:
        return vozmo::runKeyCommand(command.keyAction);
    case vozmo::CommandLine::Mode::selfTest:
    case vozmo::CommandLine::Mode::application:
        break;
    }
    vozmo::initConfig(args);
    if (vozmo::config().isSelfTest) {
        return runSelfTestMode(argc, argv);
    }
    return runApplicationMode(argc, argv);
}
