#include "key_names.h"

#include "prefs.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace vozmo {

namespace {

constexpr const char* kChosenKeyPrefix = "keys:";

bool plausiblePart(std::string_view part) {
    // Keysym names are ASCII letters, digits and underscores.
    return !part.empty() && part.size() <= 40 && std::all_of(part.begin(), part.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

constexpr std::pair<std::string_view, std::string_view> kNames[] = {
    {"Control_L", "Ctrl izquierda"},
    {"Control_R", "Ctrl derecha"},
    {"Alt_L", "Alt izquierda"},
    {"Alt_R", "Alt derecha"},
    {"ISO_Level3_Shift", "Alt derecha"},
    {"Shift_L", "Mayús izquierda"},
    {"Shift_R", "Mayús derecha"},
    {"Super_L", "Super izquierda"},
    {"Super_R", "Super derecha"},
    {"Meta_L", "Meta izquierda"},
    {"Meta_R", "Meta derecha"},
    {"Hyper_L", "Hyper izquierda"},
    {"Hyper_R", "Hyper derecha"},
    {"Menu", "Menú"},
    {"Pause", "Pausa"},
    {"Print", "Impr Pant"},
    {"Scroll_Lock", "Bloq Despl"},
    {"Caps_Lock", "Bloq Mayús"},
    {"Num_Lock", "Bloq Num"},
    {"Insert", "Insert"},
    {"Home", "Inicio"},
    {"End", "Fin"},
    {"Prior", "Re Pág"},
    {"Next", "Av Pág"},
    {"XF86WakeUp", "Fn"},
    {"XF86Fn", "Fn"},
    {"XF86AudioMute", "Silenciar"},
    {"Button8", "botón lateral trasero del ratón"},
    {"Button9", "botón lateral delantero del ratón"},
};

} // namespace

std::vector<std::string> customHotkeyParts(const std::string& stored) {
    if (stored.rfind(kChosenKeyPrefix, 0) != 0) {
        return {};
    }
    std::vector<std::string> parts;
    std::size_t from = std::string_view(kChosenKeyPrefix).size();
    while (from <= stored.size()) {
        const std::size_t plus = std::min(stored.find('+', from), stored.size());
        const std::string part = stored.substr(from, plus - from);
        if (!plausiblePart(part) || std::find(parts.begin(), parts.end(), part) != parts.end()) {
            return {};
        }
        parts.push_back(part);
        from = plus + 1;
    }
    return parts.size() <= 4 ? parts : std::vector<std::string>{};
}

std::string storedHotkey(const std::vector<std::string>& parts) {
    if (parts.size() == 1 && (parts[0] == "XF86WakeUp" || parts[0] == "XF86Fn")) {
        return Prefs::kHotkeyFn;
    }
    if (parts.size() == 1 && parts[0] == "Alt_R") {
        return Prefs::kHotkeyRightAlt;
    }
    std::string stored = kChosenKeyPrefix;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        stored += (i == 0 ? "" : "+") + parts[i];
    }
    return stored;
}

std::string keyDisplayName(const std::string& part) {
    for (const auto& [sym, name] : kNames) {
        if (sym == part) {
            return std::string(name);
        }
    }
    if (part.rfind("Button", 0) == 0) {
        return "botón " + part.substr(6) + " del ratón";
    }
    if (part.rfind("XF86", 0) == 0) {
        return part.substr(4);
    }
    std::string name = part;
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

std::string hotkeyDisplayName(const std::string& stored) {
    if (stored == Prefs::kHotkeyRightAlt) {
        return "Alt derecha";
    }
    const std::vector<std::string> parts = customHotkeyParts(stored);
    if (parts.empty()) {
        return "Fn";
    }
    std::string name;
    for (const std::string& part : parts) {
        name += (name.empty() ? "" : " + ") + keyDisplayName(part);
    }
    return name;
}

} // namespace vozmo
