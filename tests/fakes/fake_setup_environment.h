#pragma once

#include "setup_environment.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vozmo::test {

// A desktop for Setup whose answers the test sets and whose actions it records.
struct FakeDesktop {
    int micStatus = 3;
    bool keyAccess = true;
    std::vector<std::string> missingKeyAccess; // when keyAccess is false
    // Set on a Wayland desktop: what the row tells the user to do.
    std::optional<std::vector<std::string>> keyAndPasteInstructions;
    bool soundServer = true;
    bool soundSettingsInstalled = true;
    std::set<std::string> programs = {"whisper-server", "llama-server"};
    int soundSettingsOpened = 0;
    int permissionsHelpShown = 0;
    int serversHelpShown = 0;
    int modelsHelpShown = 0;
    int microphoneHelpShown = 0;
    int watchesStarted = 0;
    int watchesStopped = 0;
    // The pending Fn watch; calling it is "the Fn key went down".
    std::function<void()> fnWatcher;
    bool supportsFnWatch = true;
    bool offersKeyChoice = false; // "Tecla de dictado…" is there
    int keyChoicesOpened = 0;
    bool altGr = false; // the layout's right Alt key is AltGr

    SetupEnvironment environment() {
        SetupEnvironment env;
        env.micStatus = [this] { return micStatus; };
        env.keyAccessOk = [this] { return keyAccess; };
        env.missingKeyAccess = [this] { return missingKeyAccess; };
        if (keyAndPasteInstructions) {
            env.keyAndPasteInstructions = [this] { return *keyAndPasteInstructions; };
        }
        env.soundServerRunning = [this] { return soundServer; };
        env.openSoundSettings = [this] {
            soundSettingsOpened += soundSettingsInstalled ? 1 : 0;
            return soundSettingsInstalled;
        };
        env.openPermissionsHelp = [this] { ++permissionsHelpShown; };
        env.openServersHelp = [this] { ++serversHelpShown; };
        env.openModelsHelp = [this] { ++modelsHelpShown; };
        env.openMicrophoneHelp = [this] { ++microphoneHelpShown; };
        if (supportsFnWatch) {
            env.watchFnKey = [this](std::function<void()> onFnSeen) {
                (onFnSeen ? watchesStarted : watchesStopped) += 1;
                fnWatcher = std::move(onFnSeen);
            };
        }
        if (offersKeyChoice) {
            env.chooseKey = [this] { ++keyChoicesOpened; };
        }
        env.rightAltIsAltGr = [this] { return altGr; };
        env.findProgram = [this](const std::string& name) -> std::optional<std::filesystem::path> {
            if (programs.count(name) == 0) {
                return std::nullopt;
            }
            return std::filesystem::path("/opt/fake/bin") / name;
        };
        return env;
    }
};

} // namespace vozmo::test
