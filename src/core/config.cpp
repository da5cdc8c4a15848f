#include "config.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vozmo {

const char* const kDictionaryTemplate =
    "# Diccionario de Vozmo\n"
    "# Escribe una palabra o nombre por línea para que se transcriba siempre así\n"
    "# (nombres propios, marcas, términos de tu trabajo).\n"
    "# Para corregir algo que entiende mal:  lo que entiende => lo que debe escribir\n"
    "# Las líneas que empiezan por # se ignoran. Los cambios se aplican al siguiente dictado.\n"
    "# Ejemplos (quita la # para activarlos):\n"
    "# Nombre De Tu Empresa\n"
    "# guasap => WhatsApp\n"
    "WhatsApp";

namespace {

Config& mutableConfig() {
    static Config value;
    return value;
}

std::filesystem::path envPath(const char* name) {
    const char* value = std::getenv(name);
    // The XDG rules say a relative value is invalid and must be ignored.
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

std::filesystem::path homeDir() {
    auto home = envPath("HOME");
    return home.empty() ? std::filesystem::path("/") : home;
}

std::filesystem::path dataHome() {
    auto dir = envPath("XDG_DATA_HOME");
    return dir.empty() ? homeDir() / ".local" / "share" : dir;
}

std::filesystem::path configHome() {
    auto dir = envPath("XDG_CONFIG_HOME");
    return dir.empty() ? homeDir() / ".config" : dir;
}

std::filesystem::path runningExecutableDir() {
    // Started by the `vozmo` command, which lives elsewhere: the servers beside it and the login
    // entry that starts it are found from there.
    if (const auto launcher = envPath("VOZMO_LAUNCHER"); launcher.is_absolute()) {
        return launcher.parent_path();
    }
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

} // namespace

bool hasSelfTestFlag(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--selftest") {
            return true;
        }
    }
    return false;
}

void initConfig(const std::vector<std::string>& args) {
    Config c;
    c.support = dataHome() / "Vozmo";
    c.modelsDir = c.support / "models";
    c.logsDir = c.support / "logs";
    c.dictionaryPath = c.support / "diccionario.txt";
    c.whisperModelPath = c.modelsDir / "whisper.bin";
    c.llmModelPath = c.modelsDir / "llm.gguf";
    c.prefsFile = configHome() / "Vozmo" / "prefs.json";
    c.autostartFile = configHome() / "autostart" / "vozmo.desktop";
    const auto runtime = envPath("XDG_RUNTIME_DIR");
    c.runtimeDir = runtime.empty() ? c.support / "run" : runtime / "Vozmo";
    c.executableDir = runningExecutableDir();
    c.isSelfTest = hasSelfTestFlag(args);
    c.chatApps = {
        // X11 WM_CLASS class names and Wayland application ids (Flatpak ids included).
        "org.telegram.desktop",
        "com.slack.Slack",
        "com.discordapp.Discord",
        "org.signal.Signal",
        "whatsapp-desktop-linux",
        "WhatsApp",
        "Slack",
        "TelegramDesktop",
        "telegram-desktop",
        "discord",
        "Signal",
    };
    // Revisions and hashes as published with each file on Hugging Face (the Git LFS object id
    // is the SHA-256 of the file).
    c.modelSpecs = {
        {"Whisper",
         "https://huggingface.co/ggerganov/whisper.cpp/resolve/"
         "0b364b566045a405be7225ee1e415a073e04da77/ggml-large-v3-turbo-q8_0.bin",
         c.whisperModelPath, 800000000,
         "317eb69c11673c9de1e1f0d459b253999804ec71ac4c23c17ecf5fbe24e259a1", 874188075},
        {"IA de pulido",
         "https://huggingface.co/unsloth/Qwen3-4B-Instruct-2507-GGUF/resolve/"
         "a06e946bb6b655725eafa393f4a9745d460374c9/Qwen3-4B-Instruct-2507-Q4_K_M.gguf",
         c.llmModelPath, 2000000000,
         "3605803b982cb64aead44f6c1b2ae36e3acdb41d8e46c8a94c6533bc4c67e597", 2497281120},
    };
    mutableConfig() = std::move(c);
}

const Config& config() {
    return mutableConfig();
}

void ensureSupport() {
    const Config& c = config();
    for (const auto* dir : {&c.support, &c.modelsDir, &c.logsDir}) {
        std::error_code ec;
        std::filesystem::create_directories(*dir, ec);
    }
    std::error_code ec;
    // symlink_status so that even a dangling link the user placed there is left alone.
    if (std::filesystem::exists(std::filesystem::symlink_status(c.dictionaryPath, ec))) {
        return;
    }
    if (ec && ec != std::errc::no_such_file_or_directory) {
        return;
    }
    // Atomic: a unique temporary file beside the target, then a rename.
    std::string tmpl = (c.support / ".diccionario.txt.XXXXXX").string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        return;
    }
    std::string_view text(kDictionaryTemplate);
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = (::fsync(fd) == 0) && ok;
    ::fchmod(fd, 0644);
    ::close(fd);
    // link() fails when the name appeared meanwhile, so a concurrent user file is never replaced.
    if (!ok || ::link(tmpl.c_str(), c.dictionaryPath.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return;
    }
    ::unlink(tmpl.c_str());
}

} // namespace vozmo
