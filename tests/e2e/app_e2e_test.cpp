// The application as a whole on the test desktop: `vozmo` started with no arguments, the
// stand-in servers behind it, the dictation key pressed on the X server, speech played into
// PulseAudio, and the text read back from a GTK window. What the heads-up panel showed is read
// from its window title, never guessed from timing.
#include "harness.h"
#include "speech_window.h"
#include "wav.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::AppHome;
using test::kDictationKey;
using test::StandinKind;
using test::waitUntil;

const std::string kListening = "Escuchando";
const std::string kHandsFree = "Manos libres";
const std::string kTranscribing = "Transcribiendo";
const std::string kPolishing = "Puliendo";
const std::string kCancelled = "Cancelado";
const std::string kNotHeard = "No te he oído";
const std::string kTranscriptionError =
    "No se pudo transcribir: usa «Reintentar el último dictado» en el menú";
const std::string kCopied = "Copiado: pega con Ctrl+V";
const std::string kReady = "Listo · mantén Alt derecha";
const std::string kPrevious = "contenido previo";

std::string readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::regex kTimingLine(R"(Dictado \d+\.\d s · Whisper \d+\.\d\d s · IA \d+\.\d\d s)");

class AppE2e : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(desk_.connected()) << "no X display"; }

    void TearDown() override {
        // Nothing stays held for the next test, whatever happened here.
        for (const char* key : {kDictationKey.c_str(), "Escape", "Shift_L"}) {
            desk_.key(key, false);
        }
        if (HasFailure() && app_) {
            std::cerr << "--- app.log ---\n"
                      << app_->log() << "--- vozmo output ---\n"
                      << app_->output() << "--- panel ---\n"
                      << hud_->shownSince(0) << "\n";
        }
        hud_.reset();
        app_.reset();
        others_.clear();
        target_.reset();
        clipboard_.reset();
        home_.reset();
    }

    // A private account, the target window with the focus, then the application; waits until
    // the speech server (and the language model, when asked) is ready.
    void launch(const AppHome::Options& options = {}, bool waitForLlm = true) {
        home_ = std::make_unique<AppHome>(options);
        target_ = std::make_unique<test::Target>(desk_);
        ASSERT_TRUE(target_->ready()) << "the target window never got the focus";
        app_ = std::make_unique<test::RunningApp>(*home_, standins_);
        ASSERT_TRUE(app_->process().started());
        hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
        ASSERT_TRUE(app_->waitForLog("whisper listo en", 0, 90s))
            << "the speech server never got ready\n"
            << app_->log();
        if (waitForLlm) {
            ASSERT_TRUE(app_->waitForLog("llm listo en", 0, 90s)) << app_->log();
            // The warm-up request goes first, so nothing of ours queues behind it.
            ASSERT_TRUE(waitUntil([&] { return answered(StandinKind::Llama) >= 1; }, 30s));
        }
        EXPECT_TRUE(app_->waitForLog("Vozmo iniciado. Accesibilidad: true", 0, 20s)) << app_->log();
        EXPECT_TRUE(hud_->waitFor(kReady, 0, 20s)) << "the panel showed " << hud_->shownSince(0);
        ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s))
            << "the application took the focus from the target";
    }

    const std::filesystem::path& speech() {
        if (!speech_) {
            speech_ = test::speechWav(home_->root(), "Mándalo por guasap a Marta mañana.");
        }
        EXPECT_TRUE(speech_) << "espeak-ng could not speak";
        return *speech_;
    }

    // Holds the dictation key while the speech plays, then lets it go.
    void holdAndSpeak() {
        const auto from = hud_->mark();
        ASSERT_TRUE(desk_.key(kDictationKey, true));
        ASSERT_TRUE(hud_->waitFor(kListening, from))
            << "the panel showed " << hud_->shownSince(from);
        ASSERT_TRUE(test::play(speech()));
        ASSERT_TRUE(desk_.key(kDictationKey, false));
    }

    bool targetShows(const std::string& text, std::chrono::milliseconds limit = 30s) {
        return waitUntil([&] { return target_->text() == text; }, limit);
    }

    std::vector<nlohmann::json> inferences() const {
        return standins_.requests(StandinKind::Whisper, "/inference");
    }
    std::vector<nlohmann::json> completions() const {
        return standins_.requests(StandinKind::Llama, "/v1/chat/completions");
    }
    int answered(StandinKind kind) const {
        int count = 0;
        for (const auto& entry : standins_.records(kind)) {
            count += entry.value("event", "") == "answered" ? 1 : 0;
        }
        return count;
    }

    static std::string lastUserMessage(const nlohmann::json& request) {
        std::string found;
        for (const auto& message : request["json"].value("messages", nlohmann::json::array())) {
            if (message.value("role", "") == "user") {
                found = message.value("content", "");
            }
        }
        return found;
    }

    test::Desk desk_;
    test::StandinDir standins_;
    std::unique_ptr<AppHome> home_;
    std::unique_ptr<test::ClipboardOwner> clipboard_;
    std::unique_ptr<test::Target> target_;
    std::vector<std::unique_ptr<test::Target>> others_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
    std::optional<std::filesystem::path> speech_;
};

// The whole road: recorded speech, the transcript cleaned and corrected by the dictionary,
// polished by the language model, pasted into the window that had the focus, and the clipboard
// given back to its owner.
TEST_F(AppE2e, HeldKeyPastesThePolishedCorrectedText) {
    // Slow enough for every step to stay on the panel longer than one look at it.
    standins_.configure(
        StandinKind::Whisper,
        {{"text", " mándalo por guasap a Marta mañana [música]\n por la tarde\n"}, {"delay", 0.5}});
    const std::string corrected = "mándalo por WhatsApp a Marta mañana por la tarde";
    const std::string polished = "Mándalo por WhatsApp a Marta mañana por la tarde.";
    // Only the corrected text earns the polished answer; anything else gets a refusal.
    standins_.configure(StandinKind::Llama,
                        {{"rules", {{{"match", corrected}, {"content", polished}}}},
                         {"content", "Lo siento, no puedo ayudar con eso."},
                         {"delay", 0.3}});
    clipboard_ = std::make_unique<test::ClipboardOwner>(kPrevious);
    ASSERT_TRUE(clipboard_->ready());
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_EQ(test::clipboardText(), kPrevious);

    const auto from = hud_->mark();
    const auto logFrom = app_->logSize();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(targetShows(polished)) << "the target holds " << target_->text().value_or("?");
    EXPECT_TRUE(target_->pasteSeen()) << "no Control+V reached the target";
    EXPECT_TRUE(waitUntil([] { return test::clipboardText() == kPrevious; }, 15s))
        << "the clipboard holds " << test::clipboardText().value_or("nothing");

    for (const auto& title : {kListening, kTranscribing, kPolishing}) {
        EXPECT_TRUE(hud_->sawSince(title, from)) << title << "; shown: " << hud_->shownSince(from);
    }
    EXPECT_TRUE(waitUntil([&] { return !hud_->panelVisible(); }, 10s))
        << "the panel stays after pasting: " << hud_->shownSince(from);

    auto requests = inferences();
    ASSERT_EQ(requests.size(), 1u);
    const auto& fields = requests[0]["fields"];
    EXPECT_EQ(fields.value("language", ""), "es");
    EXPECT_NE(fields.value("prompt", "").find("WhatsApp"), std::string::npos)
        << "the dictionary's words reach the speech server: " << fields;
    const auto& wav = requests[0]["wav"];
    EXPECT_EQ(wav.value("sample_rate", 0), 16000);
    EXPECT_EQ(wav.value("channels", 0), 1);
    // 0.3 s of silence in front, and the held key lasted longer than the speech took.
    EXPECT_GE(wav.value("data_size", 0), 2 * 16000);
    // The speech window is sized to the recording sent, silence included.
    EXPECT_EQ(fields.value("audio_ctx", ""),
              std::to_string(speechWindowFrames(wav.value("data_size", 0) / 2)));

    auto chats = completions();
    ASSERT_GE(chats.size(), 2u) << "the warm-up and the dictation";
    EXPECT_EQ(lastUserMessage(chats.back()).find("guasap"), std::string::npos);
    EXPECT_NE(lastUserMessage(chats.back()).find(corrected), std::string::npos)
        << lastUserMessage(chats.back());

    auto timings = app_->logLines("Dictado ", logFrom);
    ASSERT_EQ(timings.size(), 1u) << app_->log();
    EXPECT_TRUE(std::regex_search(timings[0], kTimingLine)) << timings[0];
    EXPECT_EQ(timings[0].find("descartada"), std::string::npos) << timings[0];
}

// A dictation whose polish the language model's measured speed says would pass the limit is
// delivered cleaned at once, without asking the model; a short one is still polished.
TEST_F(AppE2e, APolishPredictedTooSlowIsSkippedNotWaitedFor) {
    const std::string longText =
        "bueno te cuento lo de ayer porque no quedó claro en la reunión primero revisamos el "
        "presupuesto del año que viene y después hablamos de las vacaciones del equipo";
    standins_.configure(StandinKind::Whisper,
                        {{"texts", {" " + longText + "\n", " mándalo a Marta mañana\n"}}});
    // Answers at 5 tokens a second: the long dictation's about 45 tokens would take 9 s.
    standins_.configure(StandinKind::Llama, {{"content", "Mándalo a Marta mañana."},
                                             {"prompt_per_second", 2000.0},
                                             {"predicted_per_second", 5.0}});
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(app_->waitForLog("IA: 2000 tokens/s de entrada, 5.0 tokens/s de salida"))
        << app_->log();
    const auto chatsBefore = completions().size();

    auto from = hud_->mark();
    auto logFrom = app_->logSize();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    const auto released = std::chrono::steady_clock::now();
    ASSERT_TRUE(targetShows(longText)) << "the target holds " << target_->text().value_or("?");
    EXPECT_LT(std::chrono::steady_clock::now() - released, 5s);
    EXPECT_EQ(completions().size(), chatsBefore);
    const auto skipped = app_->logLines("IA omitida: equipo lento (", logFrom);
    ASSERT_EQ(skipped.size(), 1u) << app_->log();
    EXPECT_TRUE(std::regex_search(skipped[0], std::regex(R"(\((9|1\d)\.\d s previstos\))")))
        << skipped[0];
    EXPECT_FALSE(hud_->sawSince(kPolishing, from)) << hud_->shownSince(from);
    EXPECT_TRUE(waitUntil([&] { return !hud_->panelVisible(); }, 10s));

    ASSERT_TRUE(target_->setText(""));
    from = hud_->mark();
    logFrom = app_->logSize();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(targetShows("Mándalo a Marta mañana.", 30s))
        << "the target holds " << target_->text().value_or("?");
    EXPECT_EQ(completions().size(), chatsBefore + 1);
    EXPECT_TRUE(app_->logLines("IA omitida", logFrom).empty()) << app_->log();
}

// A tap starts a hands-free recording; other keys do not end it, the next press of the key does.
TEST_F(AppE2e, TapRecordsHandsFreeUntilTheNextPress) {
    standins_.configure(StandinKind::Whisper,
                        {{"text", " una nota para mañana\n"}, {"delay", 0.5}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));

    const auto from = hud_->mark();
    ASSERT_TRUE(desk_.tap(kDictationKey));
    ASSERT_TRUE(hud_->waitFor(kHandsFree, from)) << "the panel showed " << hud_->shownSince(from);
    ASSERT_TRUE(desk_.tap("Shift_L")); // another key soon after the start: ignored when hands-free
    ASSERT_TRUE(test::play(speech()));
    EXPECT_TRUE(inferences().empty()) << "the recording ended before the second press";
    EXPECT_EQ(hud_->viewableTitled(kHandsFree), 1)
        << "the recording stopped: " << hud_->shownSince(from);

    const auto second = hud_->mark();
    ASSERT_TRUE(desk_.tap(kDictationKey));
    EXPECT_TRUE(targetShows("una nota para mañana"))
        << "the target holds " << target_->text().value_or("?") << "; panel "
        << hud_->shownSince(from);
    EXPECT_TRUE(hud_->sawSince(kTranscribing, second)) << hud_->shownSince(second);
    EXPECT_FALSE(hud_->sawSince(kListening, second)) << hud_->shownSince(second);
    EXPECT_EQ(inferences().size(), 1u);
}

// The press that ends a hands-free recording may still be held when the text is pasted; the
// paste stroke lifts it and puts it back, and that must not count as a new press.
TEST_F(AppE2e, KeyStillHeldAtThePasteStartsNoRecording) {
    standins_.configure(StandinKind::Whisper, {{"text", " una nota para mañana\n"}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));

    const auto from = hud_->mark();
    ASSERT_TRUE(desk_.tap(kDictationKey));
    ASSERT_TRUE(hud_->waitFor(kHandsFree, from)) << "the panel showed " << hud_->shownSince(from);
    ASSERT_TRUE(test::play(speech()));
    const auto second = hud_->mark();
    ASSERT_TRUE(desk_.key(kDictationKey, true));
    EXPECT_TRUE(targetShows("una nota para mañana")) << target_->text().value_or("?");
    waitUntil([] { return false; }, 1s);
    std::string keys;
    for (const auto& key : target_->keys()) {
        keys += " " + key.keysym + "(" + key.mods + ")";
    }
    EXPECT_FALSE(hud_->sawSince(kListening, second))
        << "the paste's own re-press of the held key started a recording: "
        << hud_->shownSince(second) << "; the target got" << keys;
    ASSERT_TRUE(desk_.key(kDictationKey, false));
    EXPECT_FALSE(hud_->sawSince(kHandsFree, second)) << hud_->shownSince(second);
}

// Another key soon after the start means a shortcut: the recording vanishes without a word,
// and the application goes on working.
TEST_F(AppE2e, OtherKeySoonAfterTheStartDiscardsTheRecording) {
    standins_.configure(StandinKind::Whisper, {{"text", " segunda prueba\n"}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));
    const auto logFrom = app_->logSize();

    const auto from = hud_->mark();
    ASSERT_TRUE(desk_.key(kDictationKey, true));
    ASSERT_TRUE(hud_->waitFor(kListening, from)) << "the panel showed " << hud_->shownSince(from);
    ASSERT_TRUE(desk_.tap("Shift_L"));
    EXPECT_TRUE(waitUntil([&] { return !hud_->panelVisible(); }, 5s))
        << "the panel stays: " << hud_->shownSince(from);
    ASSERT_TRUE(test::play(speech()));
    ASSERT_TRUE(desk_.key(kDictationKey, false));

    // A real dictation afterwards: once its text is there, the discarded one would have been
    // transcribed and pasted before it.
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(targetShows("segunda prueba")) << target_->text().value_or("?");
    EXPECT_EQ(inferences().size(), 1u) << "the discarded recording reached the speech server";
    EXPECT_EQ(app_->logLines("Dictado ", logFrom).size(), 1u) << app_->log();
    EXPECT_FALSE(hud_->sawSince(kNotHeard, from));
    EXPECT_FALSE(hud_->sawSince(kCancelled, from));
}

// Escape while the text is being transcribed: "Cancelado", and the late result changes nothing.
TEST_F(AppE2e, EscapeWhileProcessingCancelsThePaste) {
    standins_.configure(StandinKind::Whisper, {{"text", " esto no debe llegar\n"}, {"delay", 3}});
    clipboard_ = std::make_unique<test::ClipboardOwner>(kPrevious);
    ASSERT_TRUE(clipboard_->ready());
    ASSERT_NO_FATAL_FAILURE(launch());
    const auto logFrom = app_->logSize();

    const auto from = hud_->mark();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    ASSERT_TRUE(hud_->waitFor(kTranscribing, from)) << hud_->shownSince(from);
    ASSERT_TRUE(waitUntil([&] { return inferences().size() == 1; }));
    const auto escape = hud_->mark();
    ASSERT_TRUE(desk_.tap("Escape"));
    EXPECT_TRUE(hud_->waitFor(kCancelled, escape)) << hud_->shownSince(escape);

    // The run ends with the request: the server's late answer (3 s) is never read, so no timing
    // line and nothing delivered, even well after it.
    waitUntil([] { return false; }, 5s);
    EXPECT_TRUE(app_->logLines("Dictado ", logFrom).empty()) << app_->log();
    EXPECT_EQ(target_->text(), "");
    EXPECT_FALSE(target_->pasteSeen());
    EXPECT_EQ(test::clipboardText(), kPrevious);
    const std::string after = hud_->shownSince(escape);
    for (const auto& title : {kPolishing, kCopied, kTranscriptionError}) {
        EXPECT_FALSE(hud_->sawSince(title, escape)) << title << " after the cancel: " << after;
    }
}

// Recordings that are too quiet or too short never reach the speech server.
TEST_F(AppE2e, SilentOrShortRecordingIsNotHeard) {
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));
    const auto logFrom = app_->logSize();

    // Held for a second of silence.
    auto from = hud_->mark();
    ASSERT_TRUE(desk_.key(kDictationKey, true));
    ASSERT_TRUE(hud_->waitFor(kListening, from)) << hud_->shownSince(from);
    waitUntil([] { return false; }, 1200ms);
    ASSERT_TRUE(desk_.key(kDictationKey, false));
    EXPECT_TRUE(hud_->waitFor(kNotHeard, from)) << "silence: " << hud_->shownSince(from);

    // The same message again must be seen coming anew.
    ASSERT_TRUE(waitUntil([&] { return !hud_->panelVisible(); }, 10s)) << hud_->shownSince(from);

    // A loud tone, but a tap and a second press at once: far shorter than 0.4 s.
    const auto tone = test::toneWav(home_->root() / "tone.wav", 4.0, 0.0);
    test::ChildProcess player(test::playArguments(tone));
    waitUntil([] { return false; }, 500ms);
    // Back to back, so even a busy machine keeps it short.
    from = hud_->mark();
    ASSERT_TRUE(desk_.tap(kDictationKey));
    ASSERT_TRUE(desk_.tap(kDictationKey));
    EXPECT_TRUE(hud_->waitFor(kNotHeard, from)) << "short: " << hud_->shownSince(from);
    player.wait(10s);

    EXPECT_TRUE(inferences().empty());
    EXPECT_TRUE(app_->logLines("Dictado ", logFrom).empty()) << app_->log();
    EXPECT_EQ(target_->text(), "");
}

// 100 s of dictation on a speech server as slow as the accurate model on 2 cores: the recording
// goes out in pieces while it is spoken, and the window gets every word once, whatever the cuts.
// The stand-in hears tone words, so a piece sent twice, a gap between pieces or a word cut in
// two shows as a word too many or too few.
TEST_F(AppE2e, ALongDictationOnASlowServerIsPastedWhole) {
    standins_.configure(StandinKind::Whisper, {{"tone_words", test::toneWordNames()},
                                               {"window_seconds", 26.1},
                                               {"record_bodies", false}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));
    const auto logFrom = app_->logSize();
    const auto requestsBefore = inferences().size();
    const auto phrases = test::tonePhrases(100.0, 7);
    const auto wav = home_->root() / "long.wav";
    std::ofstream(wav, std::ios::binary) << *wavData(test::toneWordAudio(phrases));

    // A second of buffer: a player that misses its turn on a loaded machine leaves a gap in
    // the sound, which splits a word in two as surely as a cut inside it would.
    const test::HeldDictation held =
        test::holdKeyThroughPlayback(desk_, *hud_, *target_, wav, 0.3, 170s, 1000);
    ASSERT_EQ(held.failure, "");
    ASSERT_TRUE(held.pasted) << "no paste; the panel showed " << hud_->shownSince(0);
    std::optional<std::string> text;
    waitUntil(
        [&] {
            text = target_->text();
            return text && !text->empty();
        },
        5s);
    const std::string expected = test::toneTranscript(phrases);
    std::string pieces;
    for (const auto& entry : standins_.records(StandinKind::Whisper)) {
        if (entry.value("event", "") == "answered") {
            pieces += "request " + std::to_string(entry.value("request_number", 0)) + ":" +
                      entry.value("text", std::string("(no text)\n"));
        }
    }
    EXPECT_EQ(text.value_or("(none)"), expected)
        << test::wordDifference(expected, text.value_or("")) << "\nthe pieces' transcripts:\n"
        << pieces;

    // Pieces went out during the recording, and none ran into its time limit.
    const auto split = app_->logLines(" durante la grabación", logFrom);
    ASSERT_EQ(split.size(), 1u) << app_->log();
    const std::regex counts(R"(Dictado en (\d+) peticiones, (\d+) durante la grabación)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(split[0], match, counts)) << split[0];
    EXPECT_GE(std::stoi(match[2]), 1) << split[0];
    EXPECT_EQ(static_cast<std::size_t>(std::stoi(match[1])), inferences().size() - requestsBefore);
    EXPECT_TRUE(app_->logLines("Whisper no respondió", logFrom).empty()) << app_->log();
}

// The speech server answers with an error: a message, and nothing typed.
TEST_F(AppE2e, TranscriptionFailureShowsAnError) {
    standins_.configure(StandinKind::Whisper, {{"status", 500}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));
    const auto logFrom = app_->logSize();

    const auto from = hud_->mark();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(hud_->waitFor(kTranscriptionError, from)) << hud_->shownSince(from);
    EXPECT_TRUE(app_->waitForLog("Whisper respondió 500", logFrom, 10s)) << app_->log();
    // A failed request is sent once more before the dictation fails.
    EXPECT_EQ(inferences().size(), 2u);
    EXPECT_EQ(target_->text(), "");
    EXPECT_FALSE(target_->pasteSeen());
}

// The user went to another window before the text arrived: it waits on the clipboard.
TEST_F(AppE2e, FocusMovedAwayLeavesTheTextOnTheClipboard) {
    standins_.configure(StandinKind::Whisper, {{"text", " el texto espera aquí\n"}, {"delay", 8}});
    ASSERT_NO_FATAL_FAILURE(launch({.polish = false}, false));
    ASSERT_TRUE(target_->setText("Hola"));

    const auto from = hud_->mark();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    others_.push_back(std::make_unique<test::Target>(desk_, "OtraVentana"));
    ASSERT_TRUE(others_.back()->ready()) << "the other window never got the focus";
    ASSERT_TRUE(inferences().size() <= 1 && answered(StandinKind::Whisper) == 0)
        << "the text came back before the focus moved; the test needs a longer delay";

    EXPECT_TRUE(hud_->waitFor(kCopied, from, 30s)) << hud_->shownSince(from);
    EXPECT_EQ(test::clipboardText(), "el texto espera aquí") << "without a leading space";
    EXPECT_EQ(target_->text(), "Hola");
    EXPECT_EQ(others_.back()->text(), "");
    EXPECT_FALSE(target_->pasteSeen());
    EXPECT_FALSE(others_.back()->pasteSeen());
}

// The language preference "auto" goes to the speech server as it is; polishing off means no
// request to the language model besides its warm-up.
TEST_F(AppE2e, AutomaticLanguageReachesTheSpeechServer) {
    standins_.configure(StandinKind::Whisper, {{"text", " hello there my friend\n"}});
    ASSERT_NO_FATAL_FAILURE(launch({.language = "auto", .polish = false}));

    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(targetShows("hello there my friend")) << target_->text().value_or("?");
    auto requests = inferences();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["fields"].value("language", ""), "auto") << requests[0]["fields"];
    EXPECT_EQ(completions().size(), 1u) << "polishing is off";
}

// An answer that fails the acceptance test is dropped: the unpolished text is pasted.
TEST_F(AppE2e, RefusedPolishDeliversTheUnpolishedText) {
    struct Case {
        std::string raw;
        std::string answer;
        std::string reason; // the code on the timing line
    };
    const std::vector<Case> cases = {
        {"el precio es de 1500 euros", "El precio es de 1.500 euros.", "cifras"},
        {"dile a Sonia que llego tarde",
         "Dile a Sonia que llego tarde porque el tráfico de la autopista estaba completamente "
         "parado esta mañana y no pude salir antes de casa.",
         "largo"},
        {"mañana no puedo ir a la reunión", "Mañana puedo ir a la reunión.", "negacion"},
    };
    nlohmann::json rules = nlohmann::json::array();
    for (const auto& c : cases) {
        rules.push_back({{"match", c.raw}, {"content", c.answer}});
    }
    // Slow enough for the polishing step to stay on the panel longer than one look at it.
    standins_.configure(StandinKind::Llama, {{"rules", rules}, {"delay", 0.3}});
    ASSERT_NO_FATAL_FAILURE(launch());

    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        standins_.configure(StandinKind::Whisper, {{"text", " " + c.raw + "\n"}});
        ASSERT_TRUE(target_->setText(""));
        const auto chats = completions().size();
        const auto from = hud_->mark();
        const auto logFrom = app_->logSize();
        ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
        EXPECT_TRUE(targetShows(c.raw)) << target_->text().value_or("?");
        EXPECT_EQ(completions().size(), chats + 1) << "the text was not offered for polishing";
        // The refusal's reason is logged as a code beside the timings, without the text.
        ASSERT_TRUE(app_->waitForLog("Dictado ", logFrom, 10s)) << app_->log();
        auto timings = app_->logLines("Dictado ", logFrom);
        ASSERT_EQ(timings.size(), 1u) << app_->log();
        EXPECT_TRUE(std::regex_search(timings[0], kTimingLine)) << timings[0];
        EXPECT_TRUE(timings[0].ends_with(" · descartada: " + c.reason)) << timings[0];
        EXPECT_EQ(timings[0].find(c.raw), std::string::npos) << timings[0];
        EXPECT_TRUE(hud_->sawSince(kPolishing, from)) << hud_->shownSince(from);
        ASSERT_TRUE(waitUntil([&] { return !hud_->panelVisible(); }, 10s));
    }
}

// Every quit signal ends the application cleanly and stops both servers.
TEST_F(AppE2e, QuitSignalsStopBothServers) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        ASSERT_NO_FATAL_FAILURE(launch());
        const auto pids = app_->standinPids();
        ASSERT_FALSE(pids.empty());
        const auto alive = std::count_if(pids.begin(), pids.end(), test::processAlive);
        ASSERT_EQ(alive, 2) << "one speech and one language-model server run";

        ASSERT_EQ(::kill(app_->pid(), signal), 0);
        auto status = app_->process().wait(30s);
        ASSERT_TRUE(status) << "still running after the signal";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
        EXPECT_TRUE(waitUntil(
            [&] { return std::none_of(pids.begin(), pids.end(), test::processAlive); }, 15s))
            << "a server outlived the application";
        for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
            int stopped = 0;
            for (const auto& entry : standins_.records(kind)) {
                stopped +=
                    entry.value("event", "") == "exit" && entry.value("reason", "") == "SIGTERM";
            }
            EXPECT_GE(stopped, 1) << test::standinName(kind) << " was not asked to stop";
        }
        hud_.reset();
        app_.reset();
        target_.reset();
        home_.reset();
    }
}

// Launching again while it runs: the second process ends at once and the first one opens its
// setup window; no second pair of servers.
TEST_F(AppE2e, SecondLaunchOpensTheRunningInstancesSetupWindow) {
    ASSERT_NO_FATAL_FAILURE(launch({}, false));
    // The test desktop has no tray host, so the running instance may already show its setup
    // window; the second launch must leave exactly that one window showing.
    const int shownBefore = hud_->viewableTitled("Vozmo");
    ASSERT_LE(shownBefore, 1);
    // The language model starts at a lower priority: on a busy machine it may come later.
    ASSERT_TRUE(waitUntil([&] { return app_->standinPids().size() == 2; }, 20s));
    const auto servers = app_->standinPids().size();

    test::ChildProcess second({test::vozmoExecutable()}, test::appEnvironment(*home_, standins_),
                              home_->root() / "second.out");
    auto status = second.wait(20s);
    ASSERT_TRUE(status) << "the second instance keeps running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    EXPECT_TRUE(waitUntil([&] { return hud_->viewableTitled("Vozmo") == 1; }, 20s))
        << "no setup window of the running instance: " << hud_->shownSince(0);
    EXPECT_TRUE(app_->process().running());
    EXPECT_EQ(app_->standinPids().size(), servers);
}

// Servers installed while the application runs (the setup's last step: the programs copied into
// ~/.local/bin, a folder that does not even exist yet) are started without a restart, and the
// next dictation is transcribed.
TEST_F(AppE2e, ServersInstalledWhileRunningAreStarted) {
    home_ = std::make_unique<AppHome>();
    target_ = std::make_unique<test::Target>(desk_);
    ASSERT_TRUE(target_->ready());
    app_ = std::make_unique<test::RunningApp>(*home_, standins_, /*standinsOnPath=*/false);
    hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
    ASSERT_TRUE(app_->waitForLog("Vozmo iniciado", 0, 20s)) << app_->log();
    EXPECT_TRUE(app_->logLines("whisper iniciado").empty());

    const auto bin = home_->root() / "home" / ".local" / "bin";
    std::filesystem::create_directories(bin);
    for (auto kind : {StandinKind::Whisper, StandinKind::Llama}) {
        std::filesystem::create_symlink(test::standinExecutable(kind),
                                        bin / test::standinExecutable(kind).filename());
    }
    ASSERT_TRUE(app_->waitForLog("whisper listo en", 0, 60s)) << app_->log();
    ASSERT_TRUE(app_->waitForLog("llm listo en", 0, 60s)) << app_->log();
    ASSERT_TRUE(waitUntil([&] { return answered(StandinKind::Llama) >= 1; }, 30s));
    // The setup window (opened at the start, programs missing) may hold the focus now, so the
    // text may go to the clipboard instead: what matters is that it was transcribed.
    const auto logFrom = app_->logSize();
    ASSERT_NO_FATAL_FAILURE(holdAndSpeak());
    EXPECT_TRUE(app_->waitForLog("Dictado ", logFrom, 30s)) << app_->log();
    EXPECT_EQ(inferences().size(), 1u);
    EXPECT_TRUE(app_->logLines("Dictado sin transcribir").empty());
    EXPECT_TRUE(app_->logLines("Whisper no respondió").empty());
}

// The self-test started while the application runs leaves the application's servers alone and
// says why it does not run.
TEST_F(AppE2e, SelfTestLeavesTheRunningApplicationsServersAlone) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const auto pids = app_->standinPids();
    ASSERT_EQ(pids.size(), 2u);

    const auto output = home_->root() / "selftest.out";
    test::ChildProcess selftest({test::vozmoExecutable(), "--selftest"},
                                test::appEnvironment(*home_, standins_), output);
    auto status = selftest.wait(60s);
    ASSERT_TRUE(status) << "the self-test keeps running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    EXPECT_NE(readWhole(output).find("Vozmo ya está en marcha"), std::string::npos)
        << readWhole(output);
    waitUntil([] { return false; }, 1000ms);
    EXPECT_TRUE(std::all_of(pids.begin(), pids.end(), test::processAlive))
        << "a server of the running application was stopped";
    EXPECT_EQ(app_->standinPids().size(), 2u) << "the self-test started servers of its own";
    EXPECT_TRUE(app_->logLines("se cerró inesperadamente").empty());
}

} // namespace
} // namespace vozmo
