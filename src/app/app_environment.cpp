#include "app_environment.h"

#include "desktop_setup.h"
#include "key_synth.h"
#include "leading_space.h"
#include "paste.h"

#include <QClipboard>
#include <QGuiApplication>

namespace vozmo {

AppEnvironment linuxEnvironment() {
    AppEnvironment env;
    env.accessibilityTrusted = [] { return keyMonitorAvailable() && pasteAvailable(); };
    env.microphoneStatus = [] { return vozmo::microphoneStatus(); };
    env.openMicrophoneSettings = [] { openSoundSettings(); };
    env.frontmostApp = [] { return vozmo::frontmostApp(); };
    env.ownIdentity = [] { return vozmo::ownIdentity(); };
    env.needsLeadingSpace = [] { return vozmo::needsLeadingSpace(); };
    env.paste = [](const std::string& text) { return vozmo::paste(text); };
    env.copyText = [](const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    };
    env.makeAudioInput = [] { return vozmo::makeAudioInput(); };
    env.makeKeyEvents = [] { return vozmo::makeKeyEvents(); };
    env.sounds = makeSystemSoundPlayer();
    env.notifier = makeDesktopNotifier();
    return env;
}

} // namespace vozmo
