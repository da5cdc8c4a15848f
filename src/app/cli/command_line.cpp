#include "command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vozmo {

namespace {

// QGuiApplication's options that take a value, and those that do not; Qt accepts them with one
// dash or two.
constexpr std::array<std::string_view, 8> kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "display", "session", "name",
    "style",    "stylesheet"};
constexpr std::array<std::string_view, 1> kQtFlags = {"reverse"};

std::string_view qtOptionName(std::string_view arg) {
    if (arg.rfind("--", 0) == 0) {
        return arg.substr(2);
    }
    if (arg.rfind("-", 0) == 0) {
        return arg.substr(1);
    }
    return {};
}

bool isOneOf(std::string_view name, const auto& names) {
    return !name.empty() && std::find(names.begin(), names.end(), name) != names.end();
}

constexpr std::array<std::string_view, 4> kKeyActions = {"press", "release", "toggle", "cancel"};

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    bool help = false;
    bool version = false;
    bool selfTest = false;
    std::string keyAction;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--selftest") {
            selfTest = true;
        } else if (arg == "--key" || arg.rfind("--key=", 0) == 0) {
            // The action is required and must be one we know: a key binding with a typo must
            // fail loudly rather than start a second application.
            std::string value;
            if (arg == "--key") {
                if (i + 1 >= args.size()) {
                    return {CommandLine::Mode::usageError, arg, {}};
                }
                value = args[++i];
            } else {
                value = arg.substr(6);
            }
            if (!isOneOf(value, kKeyActions) || !keyAction.empty()) {
                return {CommandLine::Mode::usageError, arg == "--key" ? value : arg, {}};
            }
            keyAction = value;
        } else if (isOneOf(qtOptionName(arg), kQtOptionsWithValue) && i + 1 < args.size()) {
            ++i;
        } else if (isOneOf(qtOptionName(arg), kQtFlags)) {
            continue;
        } else {
            return {CommandLine::Mode::usageError, arg, {}};
        }
    }
    if (help) {
        return {CommandLine::Mode::help, {}, {}};
    }
    if (version) {
        return {CommandLine::Mode::version, {}, {}};
    }
    if (!keyAction.empty()) {
        if (selfTest) {
            return {CommandLine::Mode::usageError, "--selftest", {}};
        }
        return {CommandLine::Mode::key, {}, keyAction};
    }
    return {selfTest ? CommandLine::Mode::selfTest : CommandLine::Mode::application, {}, {}};
}

std::string helpText() {
    return std::string(kUsageLine) +
           "\n"
           "\n"
           "Dictado por voz privado y sin conexión: mantén pulsada la tecla de\n"
           "dictado, habla y suéltala; el texto se escribe donde estabas.\n"
           "\n"
           "  --selftest  prueba completa sin ventanas; sale con 0 o 1\n"
           "  --help      muestra esta ayuda\n"
           "  --version   muestra la versión\n"
           "  --key ACCIÓN\n"
           "              envía la tecla de dictado al Vozmo en marcha, para\n"
           "              atajos del escritorio: press (pulsar), release (soltar),\n"
           "              toggle (empezar o terminar un dictado manos libres),\n"
           "              cancel (cancelar, como Escape)\n";
}

std::string usageErrorText(const std::string& badOption) {
    return "vozmo: opción desconocida «" + badOption + "»\n" + kUsageLine + "\n";
}

} // namespace vozmo
