#include "self_test.h"

#include "clean_whisper.h"
#include "config.h"
#include "find_binary.h"
#include "log.h"
#include "polisher.h"
#include "prefs.h"
#include "servers.h"
#include "speech_synth.h"
#include "speech_window.h"
#include "temp_folder.h"
#include "transcribe.h"
#include "vocabulary.h"
#include "wav.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kSentence = "Hola Bruno, mañana tenemos reunión con el equipo de Altavela a "
                              "las diez. No, perdón, a las doce.";

const char* const kSamples[] = {
    "eh bueno pues el envío lo hacemos el lunes no perdón el martes por la mañana",
    "me puedes confirmar si la factura 2045 ya está pagada",
    "dile a Tomás que mañana no puedo que mejor lo dejamos para el jueves",
    "o sea lo que quiero decir es que la campaña de Altavela empieza en diciembre",
    "primero abrir la tienda segundo revisar el stock y tercero preparar los pedidos",
    "escribe un correo a Sonia pidiéndole el contrato firmado",
};

// One whole line on standard output.
void printLine(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A path as the user would type it, with ~ for the home folder.
std::string forHumans(const std::filesystem::path& file) {
    std::string path = file.string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        std::string prefix = std::string(home) + "/";
        if (path.rfind(prefix, 0) == 0) {
            return "~/" + path.substr(prefix.size());
        }
    }
    return path;
}

std::string whisperLogForHumans() {
    return forHumans(config().logsDir / "whisper.log");
}

// Which of the two the speech server needs is missing, and where it was looked for.
std::string whisperMissingDetail() {
    const char* path = std::getenv("PATH");
    const char* home = std::getenv("HOME");
    const auto folders =
        binarySearchFolders(config().executableDir, path ? path : "", home ? home : "");
    const bool program = findBinaryIn("whisper-server", folders).has_value();
    std::error_code error;
    const bool model = std::filesystem::is_regular_file(config().whisperModelPath, error);
    // Each folder once, in search order: PATH often names one twice.
    std::string searched;
    std::vector<std::string> listed;
    for (const auto& folder : folders) {
        std::string name = forHumans(folder);
        if (std::find(listed.begin(), listed.end(), name) == listed.end()) {
            searched += (searched.empty() ? "" : ", ") + name;
            listed.push_back(std::move(name));
        }
    }
    const std::string modelPath = forHumans(config().whisperModelPath);
    if (!program && !model) {
        return "Faltan whisper-server (buscado en: " + searched + ") y el modelo de Whisper (" +
               modelPath + ")";
    }
    if (!program) {
        return "Falta whisper-server; buscado en: " + searched;
    }
    return "Falta el modelo de Whisper: " + modelPath;
}

// Writes the spoken test sentence as a 16 kHz, 16-bit mono WAV file.
bool say(const std::optional<std::string>& voice, const std::filesystem::path& folder,
         const std::filesystem::path& audioFile) {
    auto samples = synthesizeSpeech(kSentence, voice, folder);
    if (!samples) {
        return false;
    }
    auto bytes = wavData(*samples);
    if (!bytes) {
        return false;
    }
    std::ofstream out(audioFile, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    out.close();
    std::error_code ec;
    return out.good() && std::filesystem::exists(audioFile, ec);
}

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

int runSelfTest() {
    ensureSupport();
    Servers servers;
    // The running application's servers are its own: the test neither sweeps nor shares them.
    if (servers.inUseByAnotherRun()) {
        printLine("FALLO: Vozmo ya está en marcha y usa los servidores. Sal de Vozmo («Salir de "
                  "Vozmo») y repite la prueba.");
        return 1;
    }
    servers.start();
    const auto t0 = Clock::now();

    if (!servers.whisperAvailable()) {
        printLine("FALLO: falta whisper-server o el modelo de Whisper");
        printLine(whisperMissingDetail());
        // A language-model server may have been started: it must not outlive the run.
        servers.stop();
        return 1;
    }

    while (true) {
        bool done = servers.whisperReady() && (servers.llmReady() || !servers.llmAvailable());
        // Waiting on makes no sense once the supervisor has given the speech server up.
        if (done || servers.whisperGaveUp() || secondsSince(t0) >= 300.0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const bool whisperReady = servers.whisperReady();
    const bool llmReady = servers.llmReady();
    printLine(format("ARRANQUE: whisper=%s ia=%s (%.1f s)", whisperReady ? "ok" : "NO",
                     llmReady ? "ok" : "NO", secondsSince(t0)));
    if (!whisperReady) {
        printLine("FALLO: Whisper no arrancó. Mira " + whisperLogForHumans());
        servers.stop();
        return 1;
    }

    const auto folder = privateTempFolder();
    const auto audioFile = folder / "vozmo-selftest.wav";
    if (!say("Mónica", folder, audioFile) && !say("Paulina", folder, audioFile)) {
        say(std::nullopt, folder, audioFile);
    }

    const Vocabulary vocabulary = Vocabulary::load();
    auto audio = readWhole(audioFile);
    if (!audio) {
        printLine("AVISO: no se pudo generar audio de prueba con 'say'");
    } else {
        std::string transcript;
        for (int n = 1; n <= 2; ++n) {
            auto started = Clock::now();
            // As a dictation is sent: the window covers the samples after the 44-byte header.
            const int window =
                Prefs::fastTranscription()
                    ? speechWindowFrames(audio->size() > 44 ? (audio->size() - 44) / 2 : 0)
                    : 0;
            auto raw = transcribe(*audio, "es", vocabulary.whisperPrompt(), WHISPER_PORT, window);
            transcript = raw ? cleanWhisper(*raw) : "(error)";
            printLine(format("WHISPER #%d (%.2f s): ", n, secondsSince(started)) + transcript);
        }
        if (llmReady) {
            auto started = Clock::now();
            auto answer =
                Polisher::polish(transcript, vocabulary.words, LLM_PORT, {}, servers.llmApiKey());
            double seconds = secondsSince(started);
            std::string output = answer.value_or("(sin respuesta)");
            bool accepted = Polisher::accept(transcript, output);
            printLine(format("IA (%.2f s, %s): ", seconds, accepted ? "aceptado" : "descartado") +
                      output);
        }
    }

    if (llmReady) {
        for (const char* sample : kSamples) {
            auto started = Clock::now();
            auto answer =
                Polisher::polish(sample, vocabulary.words, LLM_PORT, {}, servers.llmApiKey());
            std::string output = answer.value_or("(sin respuesta)");
            bool accepted = Polisher::accept(sample, output);
            double seconds = secondsSince(started);
            printLine("\nENTRADA: " + std::string(sample) + "\n" +
                      format("IA (%.2f s, %s): ", seconds,
                             accepted ? "aceptado" : "descartado → se pega lo original") +
                      output);
        }
    }

    servers.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    printLine("\nPRUEBA COMPLETADA");
    return 0;
}

} // namespace vozmo
