#pragma once

#include <string>
#include <vector>

namespace vozmo {

// The dictation key as prefs.json keeps it: Prefs::kHotkeyFn, Prefs::kHotkeyRightAlt, or any
// other key, mouse button or combination as "keys:" and its parts joined by '+', each an X
// keysym name ("Control_R", "F13", "Pause") or a mouse button ("Button8"): "keys:Control_R",
// "keys:Control_L+Button9". Anything else reads as Fn, as it always did.

// The parts of a stored key that is neither Fn nor right Alt; empty for those two and for
// anything unreadable (which reads as Fn).
std::vector<std::string> customHotkeyParts(const std::string& stored);
// The stored form of a key made of these parts.
std::string storedHotkey(const std::vector<std::string>& parts);

// One key or button as the user knows it ("Ctrl derecha", "Pausa", "botón lateral trasero").
std::string keyDisplayName(const std::string& part);
// The stored key as the user knows it ("Fn", "Alt derecha", "Ctrl izquierda + Alt izquierda").
std::string hotkeyDisplayName(const std::string& stored);

} // namespace vozmo
