#include "standin.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::StandinKind;

struct Outcome {
    int status = -1;
    std::vector<std::string> out;
};

// Runs `vozmo --selftest` in the private home with the stand-ins first on PATH.
class SelfTestRun : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
            for (pid_t pid : dir_.startedPids(kind)) {
                if (test::processAlive(pid)) {
                    ::kill(pid, SIGKILL);
                }
            }
        }
    }
    void withModels(bool whisper, bool llm) {
        const auto models = home_.path() / "data" / "Vozmo" / "models";
        if (whisper) {
            test::writeFile(models / "whisper.bin", "");
        }
        if (llm) {
            test::writeFile(models / "llm.gguf", "");
        }
    }
    Outcome runVozmo(bool withStandins = true) {
        auto env = dir_.environment();
        std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin";
        env["PATH"] = withStandins ? test::standinBinDir().string() + ":" + path : "/nonexistent";
        const auto output = home_.path() / "selftest.out";
        test::ChildProcess process({VOZMO_EXE, "--selftest"}, env, output);
        auto status = process.wait(120s);
        Outcome result;
        if (status && WIFEXITED(*status)) {
            result.status = WEXITSTATUS(*status);
        }
        result.out = test::lines(test::readFile(output));
        return result;
    }

    test::TempHome home_;
    test::StandinDir dir_;
};

TEST_F(SelfTestRun, BothServersReadyGivesTheWholeRun) {
    withModels(true, true);
    dir_.configure(StandinKind::Whisper,
                   {{"text", " Hola Bruno, mañana tenemos reunión.\n No, perdón, a las doce.\n"}});
    dir_.configure(StandinKind::Llama,
                   {{"rules",
                     {{{"match", "factura"},
                       {"content", "¿Me puedes confirmar si la factura 2045 ya está pagada?"}}}},
                    {"content", "Hola Bruno, mañana tenemos reunión a las doce."}});
    auto r = runVozmo();
    ASSERT_EQ(r.status, 0);
    // The supervisor's own lines come first; the report starts at ARRANQUE.
    auto it = std::find_if(r.out.begin(), r.out.end(),
                           [](const std::string& l) { return l.rfind("ARRANQUE:", 0) == 0; });
    ASSERT_NE(it, r.out.end());
    std::vector<std::string> report(it, r.out.end());
    std::vector<std::string> shapes = {
        R"(ARRANQUE: whisper=ok ia=ok \(\d+\.\d s\))",
        R"(WHISPER #1 \(\d+\.\d\d s\): Hola Bruno, mañana tenemos reunión\. No, perdón, a las doce\.)",
        R"(WHISPER #2 \(\d+\.\d\d s\): Hola Bruno, mañana tenemos reunión\. No, perdón, a las doce\.)",
        R"(IA \(\d+\.\d\d s, aceptado\): Hola Bruno, mañana tenemos reunión a las doce\.)",
    };
    const char* samples[] = {
        "eh bueno pues el envío lo hacemos el lunes no perdón el martes por la mañana",
        "me puedes confirmar si la factura 2045 ya está pagada",
        "dile a Tomás que mañana no puedo que mejor lo dejamos para el jueves",
        "o sea lo que quiero decir es que la campaña de Altavela empieza en diciembre",
        "primero abrir la tienda segundo revisar el stock y tercero preparar los pedidos",
        "escribe un correo a Sonia pidiéndole el contrato firmado",
    };
    for (const char* sample : samples) {
        shapes.push_back("");
        shapes.push_back(std::string("ENTRADA: ") + sample);
        shapes.push_back(R"(IA \(\d+\.\d\d s, (aceptado|descartado → se pega lo original)\): .*)");
    }
    shapes.push_back("");
    shapes.push_back("PRUEBA COMPLETADA");
    // Supervisor lines (probes, the end of the warm-up with its measured speed) may interleave
    // wherever the machine's load puts them; drop the ones it logs.
    const std::regex supervisor(
        R"((whisper|llm) (listo en|iniciado).*|IA: \d+ tokens/s de entrada, .* de salida)");
    std::vector<std::string> filtered;
    std::string shown;
    for (const auto& line : report) {
        if (!std::regex_match(line, supervisor)) {
            filtered.push_back(line);
            shown += line + "\n";
        }
    }
    ASSERT_EQ(filtered.size(), shapes.size()) << shown;
    for (size_t i = 0; i < shapes.size(); ++i) {
        EXPECT_TRUE(std::regex_match(filtered[i], std::regex(shapes[i])))
            << i << ": " << filtered[i];
    }
    // The second sample got its own answer and kept its number: accepted.
    EXPECT_TRUE(std::regex_match(
        filtered[9], std::regex(R"(IA \(\d+\.\d\d s, aceptado\): ¿Me puedes confirmar.*)")));
    // The synthesised audio reached the speech server as a 16 kHz mono 16-bit WAV.
    auto inference = dir_.requests(StandinKind::Whisper, "/inference");
    ASSERT_EQ(inference.size(), 2u);
    EXPECT_EQ(inference[0]["fields"]["language"], "es");
    // No server outlives the run.
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        for (pid_t pid : dir_.startedPids(kind)) {
            for (int i = 0; i < 100 && test::processAlive(pid); ++i) {
                std::this_thread::sleep_for(50ms);
            }
            EXPECT_FALSE(test::processAlive(pid));
        }
    }
}

TEST_F(SelfTestRun, WithoutTheLanguageModelNothingIsPolished) {
    withModels(true, false);
    dir_.configure(StandinKind::Whisper, {{"text", " Hola."}});
    auto r = runVozmo();
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> report;
    for (const auto& line : r.out) {
        if (line.rfind("whisper ", 0) != 0 && line.rfind("IA de pulido no disponible", 0) != 0) {
            report.push_back(line);
        }
    }
    ASSERT_EQ(report.size(), 5u) << ::testing::PrintToString(r.out);
    EXPECT_TRUE(
        std::regex_match(report[0], std::regex(R"(ARRANQUE: whisper=ok ia=NO \(\d+\.\d s\))")));
    EXPECT_TRUE(std::regex_match(report[1], std::regex(R"(WHISPER #1 \(\d+\.\d\d s\): Hola\.)")));
    EXPECT_TRUE(std::regex_match(report[2], std::regex(R"(WHISPER #2 \(\d+\.\d\d s\): Hola\.)")));
    EXPECT_EQ(report[3], "");
    EXPECT_EQ(report[4], "PRUEBA COMPLETADA");
}

TEST_F(SelfTestRun, MissingSpeechServerFailsAndLeavesNoChildBehind) {
    // Only the language model can start: it is launched, then the run fails.
    withModels(false, true);
    auto r = runVozmo();
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), 2u);
    // Scripts read the first line; the second says which of the two is missing.
    EXPECT_EQ(r.out[r.out.size() - 2], "FALLO: falta whisper-server o el modelo de Whisper");
    EXPECT_EQ(r.out.back(), "Falta el modelo de Whisper: ~/data/Vozmo/models/whisper.bin");
    // The supervisor reports the pid it launched; that process must be gone.
    pid_t pid = 0;
    for (const auto& line : r.out) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex(R"(llm iniciado \(pid (\d+)\))"))) {
            pid = std::stoi(m[1]);
        }
    }
    ASSERT_GT(pid, 0) << ::testing::PrintToString(r.out);
    for (int i = 0; i < 200 && test::processAlive(pid); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(test::processAlive(pid));
}

TEST_F(SelfTestRun, TheSecondFailureLineSaysWhereTheProgramWasLookedFor) {
    const std::string fallo = "FALLO: falta whisper-server o el modelo de Whisper";
    const std::string searched = "/nonexistent, ~/.local/bin, /usr/local/bin, /usr/bin";
    // Neither the program (PATH leads nowhere) nor the model.
    auto r = runVozmo(false);
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), 2u);
    EXPECT_EQ(r.out[r.out.size() - 2], fallo);
    EXPECT_EQ(r.out.back().rfind("Faltan whisper-server (buscado en: ", 0), 0u) << r.out.back();
    EXPECT_NE(r.out.back().find(searched + ") y el modelo de Whisper "
                                           "(~/data/Vozmo/models/whisper.bin)"),
              std::string::npos)
        << r.out.back();

    // The model alone is there.
    withModels(true, false);
    r = runVozmo(false);
    EXPECT_EQ(r.status, 1);
    ASSERT_GE(r.out.size(), 2u);
    EXPECT_EQ(r.out[r.out.size() - 2], fallo);
    EXPECT_EQ(r.out.back().rfind("Falta whisper-server; buscado en: ", 0), 0u) << r.out.back();
    EXPECT_NE(r.out.back().find(searched), std::string::npos) << r.out.back();
}

TEST_F(SelfTestRun, SpeechServerThatNeverAnswersFailsTheRun) {
    withModels(true, false);
    dir_.configure(StandinKind::Whisper, {{"exit_at_start", true}});
    auto r = runVozmo();
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(r.out);
    ASSERT_GE(r.out.size(), 2u);
    EXPECT_TRUE(std::regex_match(r.out[r.out.size() - 2],
                                 std::regex(R"(ARRANQUE: whisper=NO ia=NO \(\d+\.\d s\))")));
    EXPECT_EQ(r.out.back(), "FALLO: Whisper no arrancó. Mira ~/data/Vozmo/logs/whisper.log");
}

} // namespace
} // namespace vozmo
