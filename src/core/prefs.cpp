#include "prefs.h"

#include "config.h"
#include "key_names.h"
#include "prefs_store.h"

namespace vozmo::Prefs {

namespace {

PrefsStore store() {
    return PrefsStore(config().prefsFile);
}

// A stored boolean or number converts; anything else (text, absent) gives true.
bool readSetting(const std::string& key) {
    auto value = store().object(key);
    if (value && value->is_boolean()) {
        return value->get<bool>();
    }
    if (value && value->is_number()) {
        return value->get<double>() != 0.0;
    }
    return true;
}

std::string readString(const std::string& key, const std::string& fallback) {
    auto value = store().object(key);
    if (value && value->is_string()) {
        return value->get<std::string>();
    }
    if (value && value->is_number()) {
        return value->dump();
    }
    return fallback;
}

} // namespace

bool polish() {
    return readSetting("polish");
}
void setPolish(bool value) {
    store().setObject("polish", value);
}
bool sounds() {
    return readSetting("sounds");
}
void setSounds(bool value) {
    store().setObject("sounds", value);
}
std::string hotkey() {
    return readString("hotkey", kHotkeyFn);
}
void setHotkey(const std::string& value) {
    store().setObject("hotkey", value);
}
std::string language() {
    return readString("language", "es");
}
void setLanguage(const std::string& value) {
    store().setObject("language", value);
}

bool fastTranscription() {
    return readSetting("fastTranscription");
}
void setFastTranscription(bool value) {
    store().setObject("fastTranscription", value);
}

std::string remoteDesktopToken() {
    return readString("remoteDesktopToken", "");
}
void setRemoteDesktopToken(const std::string& value) {
    store().setObject("remoteDesktopToken", value);
}

std::string hotkeyName() {
    return hotkeyDisplayName(hotkey());
}

void togglePolish() {
    setPolish(!polish());
}
void toggleSounds() {
    setSounds(!sounds());
}
void toggleFastTranscription() {
    setFastTranscription(!fastTranscription());
}

bool boolForKey(const std::string& key) {
    auto value = store().object(key);
    if (!value) {
        return false;
    }
    if (value->is_boolean()) {
        return value->get<bool>();
    }
    if (value->is_number()) {
        return value->get<double>() != 0.0;
    }
    if (value->is_string()) {
        const auto& text = value->get_ref<const std::string&>();
        return text == "true" || text == "YES" || text == "yes" || text == "1";
    }
    return false;
}

void setBool(const std::string& key, bool value) {
    store().setObject(key, value);
}

std::optional<nlohmann::json> object(const std::string& key) {
    return store().object(key);
}

} // namespace vozmo::Prefs
