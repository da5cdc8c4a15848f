#include "app_environment.h"

#include "desktop_setup.h"
#include "leading_space.h"

namespace vozmo {

namespace {

AppEnvironment commonEnvironment() {
    AppEnvironment env;
    env.soundServer = std::make_unique<SoundServer>();
    SoundServer* sound = env.soundServer.get();
    env.microphoneStatus = [sound] { return sound->microphoneStatus(); };
    env.soundServerRunning = [sound] { return sound->running(); };
    env.ownIdentity = [] { return vozmo::ownIdentity(); };
    env.needsLeadingSpace = [] { return vozmo::needsLeadingSpace(); };
    env.makeAudioInput = [sound] { return sound->makeInput(); };
    env.sounds = makeSystemSoundPlayer();
    env.notifier = makeDesktopNotifier();
    return env;
}

} // namespace

AppEnvironment linuxEnvironment() {
    AppEnvironment env = commonEnvironment();
    // Keys, typing, clipboard and the focused window, chosen once here on every kind of session;
    // the application and the paste both use this choice.
    env.desktop = std::make_unique<Desktop>(currentSession());
    Desktop* desktop = env.desktop.get();
    env.paster =
        std::make_unique<Paster>(desktop->clipboard(), desktop->typing(), desktop->windows());
    Paster* paster = env.paster.get();

    env.canListenAndType = [desktop] { return desktop->canListenAndType(); };
    env.focusedApp = [desktop] { return desktop->windows().focused(); };
    env.paste = [paster](const std::string& text) { return paster->paste(text); };
    env.sendKey = [desktop](const KeyStroke& stroke) { return desktop->typing().send(stroke); };
    env.preparePaste = [paster] { paster->prepare(); };
    env.copyText = [desktop](const std::string& text) { desktop->clipboard().setText(text); };
    env.makeKeyEvents = [desktop] { return desktop->makeKeyEvents(); };
    if (desktop->capturesKeys()) {
        env.makeKeyCapture = [] { return vozmo::makeKeyCapture(); };
    }
    env.keyChoiceHelp = [desktop] { return desktop->keyChoiceHelp(); };
    env.rightAltIsAltGr = [] { return vozmo::rightAltIsAltGr(); };
    env.keyName = [desktop] { return desktop->keyName(); };
    env.keyCommandArrived = [desktop] { desktop->keyCommandArrived(); };
    env.desktopInstructions = [desktop] { return desktop->instructions(); };
    return env;
}

} // namespace vozmo
