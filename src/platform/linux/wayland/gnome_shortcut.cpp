#include "gnome_shortcut.h"

#include <gio/gio.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

namespace vozmo {

namespace {

constexpr const char* kMediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustomSchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

struct GObjectFree {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using SettingsPtr = std::unique_ptr<GSettings, GObjectFree>;

std::string takeString(gchar* value) {
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

bool schemaInstalled(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) {
        return false;
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
    if (!schema) {
        return false;
    }
    g_settings_schema_unref(schema);
    return true;
}

// Whether a shell-style command line runs `vozmo --key ...`: its first word names a program
// called vozmo, and a later word is --key.
bool runsVozmoKey(const std::string& command) {
    std::istringstream words(command);
    std::string program;
    if (!(words >> program) || std::filesystem::path(program).filename() != "vozmo") {
        return false;
    }
    std::string word;
    while (words >> word) {
        if (word == "--key" || word.rfind("--key=", 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<GnomeShortcut> findVozmoShortcut(const std::vector<GnomeShortcut>& shortcuts) {
    for (const auto& shortcut : shortcuts) {
        if (!shortcut.binding.empty() && shortcut.binding != "disabled" &&
            runsVozmoKey(shortcut.command)) {
            return shortcut;
        }
    }
    return std::nullopt;
}

std::vector<GnomeShortcut> gnomeCustomShortcuts() {
    // Without the schemas, g_settings_new() aborts the process.
    if (!schemaInstalled(kMediaKeysSchema) || !schemaInstalled(kCustomSchema)) {
        return {};
    }
    std::vector<GnomeShortcut> shortcuts;
    SettingsPtr mediaKeys(g_settings_new(kMediaKeysSchema));
    gchar** paths = g_settings_get_strv(mediaKeys.get(), "custom-keybindings");
    for (gchar** path = paths; path && *path; ++path) {
        // A relocatable schema's path must end with a slash, or g_settings_new_with_path aborts.
        if (!g_str_has_prefix(*path, "/") || !g_str_has_suffix(*path, "/") ||
            g_strstr_len(*path, -1, "//")) {
            continue;
        }
        SettingsPtr custom(g_settings_new_with_path(kCustomSchema, *path));
        shortcuts.push_back({takeString(g_settings_get_string(custom.get(), "command")),
                             takeString(g_settings_get_string(custom.get(), "binding"))});
    }
    g_strfreev(paths);
    return shortcuts;
}

std::string gnomeShortcutCommand(const std::string& executable) {
    return executable + " --key toggle";
}

std::string runningExecutable() {
    // Started by the `vozmo` command, the program runs from elsewhere: the shortcut must name
    // the command, which answers a key without starting the whole program.
    if (const char* launcher = std::getenv("VOZMO_LAUNCHER"); launcher && launcher[0] == '/') {
        return launcher;
    }
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("vozmo") : exe.string();
}

std::vector<std::string> gnomeKeyInstructions(const std::string& executable) {
    return {"En Configuración › Teclado › Ver y personalizar atajos › Atajos personalizados, "
            "añade uno con esta orden y asígnale una tecla (pulsa una vez para empezar y otra "
            "para terminar):",
            gnomeShortcutCommand(executable)};
}

std::string gnomePasteInstruction() {
    return "GNOME pregunta en «Escritorio remoto» si Vozmo puede enviar teclas: marca «Permitir la "
           "interacción remota» y pulsa «Compartir» para que el texto se pegue solo.";
}

} // namespace vozmo
