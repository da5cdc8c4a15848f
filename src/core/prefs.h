#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vozmo::Prefs {

// The four user settings; defaults live here, nothing is registered with the store.
bool polish();
void setPolish(bool value);
bool sounds();
void setSounds(bool value);
// The dictation key: kHotkeyFn or kHotkeyRightAlt, as stored since the first version, or a key
// the user chose (see key_names.h).
inline constexpr const char* kHotkeyFn = "fn";
inline constexpr const char* kHotkeyRightAlt = "ropt";
std::string hotkey();
void setHotkey(const std::string& value);
std::string language(); // "es" or "auto"
void setLanguage(const std::string& value);
std::string hotkeyName();
// The speech window follows the length of the recording (on by default).
bool fastTranscription();
void setFastTranscription(bool value);

// The desktop portal's token for sending keys again without asking; "" when none.
std::string remoteDesktopToken();
void setRemoteDesktopToken(const std::string& value);

void togglePolish();
void toggleSounds();
void toggleFastTranscription();

// Direct access for flags that are not settings ("setupShown", ...).
bool boolForKey(const std::string& key);
void setBool(const std::string& key, bool value);
std::optional<nlohmann::json> object(const std::string& key);

} // namespace vozmo::Prefs
