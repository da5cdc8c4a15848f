#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// A custom keyboard shortcut of GNOME's settings (Settings › Keyboard › Custom Shortcuts):
// the command it runs and the key combination, in GTK's notation ("F9", "<Control>space").
struct GnomeShortcut {
    std::string command;
    std::string binding;
};

// GNOME before 48 has no global-shortcuts portal: the dictation key is a custom shortcut running
// `vozmo --key toggle`. The first one that runs this program's --key with a key assigned.
std::optional<GnomeShortcut> findVozmoShortcut(const std::vector<GnomeShortcut>& shortcuts);

// The custom shortcuts of this user, read from GSettings; none where GNOME's settings schema is
// not installed.
std::vector<GnomeShortcut> gnomeCustomShortcuts();

// The command line to give the custom shortcut: the full path of this executable, as GNOME runs
// shortcuts with its own PATH, which often lacks ~/.local/bin or a build folder.
std::string gnomeShortcutCommand(const std::string& executable);

// The path of the running executable ("vozmo" when it cannot be read).
std::string runningExecutable();

// What the user does on GNOME so that the key works, one instruction per line, in Spanish.
std::vector<std::string> gnomeKeyInstructions(const std::string& executable);

// What the user answers in GNOME's remote desktop dialog so that Vozmo can paste.
std::string gnomePasteInstruction();

} // namespace vozmo
