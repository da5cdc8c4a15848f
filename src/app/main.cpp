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
    // Qt would abort (status 134) without a display; say why and leave like any failed start.
    if (!vozmo::graphicalSessionReachable()) {
        std::fputs("No hay pantalla: Vozmo necesita una sesión gráfica (X11 o Wayland)\n", stderr);
        return 1;
    }
    vozmo::preferXWaylandForWindows();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("Vozmo");
    QApplication::setDesktopFileName("vozmo");
    // Without its X server nothing can be shown or pasted: stop the servers and leave at once.
    vozmo::onDisplayLost([] { vozmo::Servers::stopAll(std::chrono::seconds(3)); });

    // A second instance would sweep away the first one's servers: hand over and leave.
    vozmo::SingleInstance instance;
    if (instance.askRunningInstance()) {
        std::fputs("Vozmo ya está en marcha; abro su ventana\n", stdout);
        return 0;
    }

    int status = 0;
    {
        vozmo::AppEnvironment environment = vozmo::linuxEnvironment();
        auto keyArrived = environment.keyCommandArrived;
        vozmo::App tray(std::move(environment));
        instance.listen([&tray] { tray.showSetup(); });
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
