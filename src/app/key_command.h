#pragma once

#include <string>

namespace vozmo {

class App;

// `vozmo --key ACTION`: hands the action to the running instance and returns the process's
// exit status (0 taken, 1 with a message on standard error when no instance runs).
int runKeyCommand(const std::string& action);

// What the running instance does with an action from a desktop shortcut: "press"/"release" are
// the dictation key going down and up, "toggle" a tap (starts a hands-free dictation or ends
// one), "cancel" is Escape. Main thread only.
void applyKeyAction(App& app, const std::string& action);

} // namespace vozmo
