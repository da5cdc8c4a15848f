#include "adapt.h"
#include "temp_home.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

TEST(Adapt, Table) {
    test::TempHome home;
    const std::optional<std::string> whatsapp = "WhatsApp";
    struct Case {
        std::optional<std::string> app;
        std::string text, result;
    };
    const Case cases[] = {
        {whatsapp, "Nos vemos mañana.", "Nos vemos mañana"},
        {whatsapp, "Vale. Nos vemos.", "Vale. Nos vemos."},
        {whatsapp, "El total es 1.500 euros.", "El total es 1.500 euros."},
        {whatsapp, "Espera...", "Espera..."},
        {whatsapp, "Espera\u2026", "Espera\u2026"},
        {whatsapp, "Hola.\nNos vemos.", "Hola.\nNos vemos."},
        {whatsapp, "Hola\r\nNos vemos.", "Hola\r\nNos vemos."},
        {whatsapp, ".", ""},
        {whatsapp, "..", ".."},
        {whatsapp, "", ""},
        {whatsapp, "Hola. ", "Hola. "},               // the period is not last
        {whatsapp, "Bien.\xCC\x81", "Bien.\xCC\x81"}, // a period with a combining mark is no period
        {whatsapp, "Vale \xF0\x9F\x91\x8D.", "Vale \xF0\x9F\x91\x8D"},
        {"discord", "¿Vienes?", "¿Vienes?"},
        {"com.slack.Slack", "Hecho.", "Hecho"},
        {"TelegramDesktop", "Hecho.", "Hecho"},
        {"Slack", "Hecho.", "Hecho"},
        {"discord", "Hecho.", "Hecho"},
        // Membership is exact and case-sensitive.
        {"slack", "Hola.", "Hola."},
        {"whatsapp", "Hola.", "Hola."},
        {"org.gnome.TextEditor", "Hola.", "Hola."},
        {"", "Hola.", "Hola."},
        {std::nullopt, "Hola.", "Hola."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(adapt(c.text, c.app), c.result) << c.app.value_or("(none)") << ": " << c.text;
    }
}

} // namespace
} // namespace vozmo
