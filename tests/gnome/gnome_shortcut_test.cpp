#include "gnome_shortcut.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vozmo {
namespace {

TEST(GnomeShortcut, FindsTheShortcutThatRunsVozmoKey) {
    struct Case {
        std::vector<GnomeShortcut> shortcuts;
        std::string found; // the binding found, "" for none
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{{"/usr/bin/vozmo --key toggle", "F9"}}, "F9"},
        {{{"vozmo --key toggle", "<Control><Alt>d"}}, "<Control><Alt>d"},
        {{{"/home/ana/vozmo/build/vozmo   --key=toggle", "F8"}}, "F8"},
        // No key assigned yet, or turned off: it cannot fire.
        {{{"/usr/bin/vozmo --key toggle", ""}}, ""},
        {{{"/usr/bin/vozmo --key toggle", "disabled"}}, ""},
        // Another program, or vozmo without --key (that would open the setup window).
        {{{"/usr/bin/notvozmo --key toggle", "F9"}}, ""},
        {{{"/usr/bin/vozmo", "F9"}}, ""},
        {{{"gnome-terminal", "<Super>t"}, {"/usr/bin/vozmo --key toggle", "F9"}}, "F9"},
    };
    for (const auto& c : cases) {
        const auto found = findVozmoShortcut(c.shortcuts);
        EXPECT_EQ(found ? found->binding : "", c.found)
            << (c.shortcuts.empty() ? "(none)" : c.shortcuts.back().command);
    }
}

TEST(GnomeShortcut, InstructionsGiveTheFullCommand) {
    const auto lines = gnomeKeyInstructions("/opt/vozmo/bin/vozmo");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Atajos personalizados"), std::string::npos);
    EXPECT_EQ(lines[1], "/opt/vozmo/bin/vozmo --key toggle");
    EXPECT_TRUE(findVozmoShortcut({{lines[1], "F9"}}));
}

bool schemaInstalled(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
    if (schema) {
        g_settings_schema_unref(schema);
    }
    return schema != nullptr;
}

// The user's custom shortcuts as GNOME's Settings writes them, in GSettings' memory backend:
// never in the settings of the account running the tests.
TEST(GnomeShortcut, ReadsTheCustomShortcutsFromGSettings) {
    g_setenv("GSETTINGS_BACKEND", "memory", TRUE);
    const char* mediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
    const char* custom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
    if (!schemaInstalled(mediaKeys) || !schemaInstalled(custom)) {
        GTEST_SKIP() << "GNOME's settings schemas are not installed";
    }
    const char* paths[] = {
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/",
        "/no/trailing/slash", // GSettings would abort on it: skipped
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom1/", nullptr};
    GSettings* list = g_settings_new(mediaKeys);
    ASSERT_TRUE(g_settings_set_strv(list, "custom-keybindings", paths));
    const std::pair<const char*, const char*> entries[] = {{"gnome-terminal", "<Super>t"},
                                                           {"/usr/bin/vozmo --key toggle", "F9"}};
    for (int i = 0; i < 2; ++i) {
        GSettings* entry = g_settings_new_with_path(custom, paths[i == 0 ? 0 : 2]);
        g_settings_set_string(entry, "command", entries[i].first);
        g_settings_set_string(entry, "binding", entries[i].second);
        g_object_unref(entry);
    }
    g_object_unref(list);

    const auto shortcuts = gnomeCustomShortcuts();
    ASSERT_EQ(shortcuts.size(), 2u);
    EXPECT_EQ(shortcuts[0].command, "gnome-terminal");
    const auto found = findVozmoShortcut(shortcuts);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->binding, "F9");
}

} // namespace
} // namespace vozmo
