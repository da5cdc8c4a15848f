#include "config.h"
#include "dictation_controller.h"
#include "fake_dictation_parts.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::FakeDictationParts;

// The controller with every part replaced by a fake, on a clock that moves only when told.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureSupport();
        Prefs::setBool("setupShown", true);
        controller = std::make_unique<DictationController>(fakes.parts());
    }
    void TearDown() override { controller.reset(); }

    // One second of speech, loud enough to be heard.
    static DictationRecorder::Recording speech(double seconds = 1.0, float peak = 0.5f) {
        return {std::vector<float>(static_cast<std::size_t>(seconds * 16000), peak), peak};
    }
    // Holds the key for a second and releases it.
    void record(DictationRecorder::Recording recording = speech()) {
        controller->keyDown();
        fakes.clock.advance(1s);
        fakes.recorder.next = std::move(recording);
        controller->keyUp();
    }
    // The same, and runs the pipeline to its end.
    void dictate(DictationRecorder::Recording recording = speech()) {
        record(std::move(recording));
        EXPECT_TRUE(settle());
    }
    bool settle() {
        return fakes.main.runUntil([&] { return controller->state() == State::idle; });
    }
    std::string appLog() { return test::readFile(config().logsDir / "app.log"); }

    test::TempHome home;
    FakeDictationParts fakes;
    std::unique_ptr<DictationController> controller;
};

TEST_F(ControllerTest, HeldKeyRecordsTranscribesAndPastes) {
    dictate();
    EXPECT_EQ(fakes.sounds.played, (std::vector<Sound>{Sound::start, Sound::stop}));
    EXPECT_EQ(fakes.hud.titles,
              (std::vector<QString>{"Escuchando", "Transcribiendo", "Transcribiendo"}));
    EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{"Hola, ¿qué tal estás?"});
    EXPECT_FALSE(fakes.hud.visible);
    EXPECT_EQ(fakes.shell.states,
              (std::vector<State>{State::recording, State::processing, State::idle}));
    // Leading silence is added before the audio goes out.
    ASSERT_EQ(fakes.speech.requests().size(), 1u);
    EXPECT_EQ(fakes.speech.requests()[0].samples, 16000u + 4800u);
    EXPECT_NE(appLog().find("Dictado 1.0 s · Whisper 0.00 s · IA 0.00 s"), std::string::npos);
    EXPECT_EQ(controller->history(), std::vector<std::string>{"Hola, ¿qué tal estás?"});
}

TEST_F(ControllerTest, RecordingsTooShortOrTooQuietAreNotSent) {
    struct Case {
        const char* name;
        std::size_t samples;
        float peak;
        bool sent;
    };
    const Case cases[] = {
        {"one sample short of 0.4 s", 6399, 0.5f, false},
        {"exactly 0.4 s at the quietest peak", 6400, 0.006f, true},
        {"long but too quiet", 32000, 0.0059f, false},
    };
    for (const auto& c : cases) {
        fakes.hud.titles.clear();
        const std::size_t before = fakes.speech.requests().size();
        dictate({std::vector<float>(c.samples, c.peak), c.peak});
        EXPECT_EQ(fakes.speech.requests().size(), before + (c.sent ? 1 : 0)) << c.name;
        if (!c.sent) {
            EXPECT_EQ(fakes.hud.last(), "No te he oído") << c.name;
        }
        EXPECT_EQ(controller->state(), State::idle) << c.name;
    }
}

TEST_F(ControllerTest, ATapStartsHandsFreeAndTheNextPressEndsIt) {
    controller->keyDown();
    fakes.clock.advance(299ms);
    controller->keyUp();
    EXPECT_EQ(controller->state(), State::recording);
    EXPECT_EQ(fakes.hud.last(), "Manos libres");
    fakes.clock.advance(1s);
    controller->otherKey(); // ignored while hands-free
    controller->keyUp();
    EXPECT_EQ(controller->state(), State::recording);
    fakes.recorder.next = speech();
    controller->keyDown();
    EXPECT_EQ(controller->state(), State::processing);
    settle();
    EXPECT_EQ(fakes.typist.pasted.size(), 1u);
}

// The hold is timed from the press: a capture slow to start does not turn a held key into a tap.
TEST_F(ControllerTest, AHoldIsTimedFromThePressNotFromTheStart) {
    fakes.recorder.whileStarting = [&] { fakes.clock.advance(200ms); };
    controller->keyDown();
    fakes.clock.advance(150ms); // 350 ms after the press, 150 ms after the start
    fakes.recorder.next = speech();
    controller->keyUp();
    EXPECT_EQ(controller->state(), State::processing);
    settle();
    EXPECT_EQ(fakes.typist.pasted.size(), 1u);
}

TEST_F(ControllerTest, AnotherKeyDiscardsOnlyEarlyInTheRecording) {
    controller->keyDown();
    fakes.clock.advance(1499ms);
    controller->otherKey();
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(fakes.sounds.played, std::vector<Sound>{Sound::start}); // no stop, no message
    EXPECT_FALSE(fakes.hud.visible);

    controller->keyDown();
    fakes.clock.advance(1500ms);
    controller->otherKey();
    EXPECT_EQ(controller->state(), State::recording);
}

TEST_F(ControllerTest, TheRecordingEndsAtItsLimit) {
    controller->keyDown();
    fakes.recorder.next = speech();
    fakes.clock.advance(299s);
    EXPECT_EQ(controller->state(), State::recording);
    fakes.clock.advance(1s);
    EXPECT_NE(controller->state(), State::recording);
    settle();
    EXPECT_EQ(fakes.typist.pasted.size(), 1u);
    // The key released afterwards changes nothing.
    controller->keyUp();
    EXPECT_EQ(fakes.recorder.starts, 1);
}

TEST_F(ControllerTest, Escape) {
    controller->cancel(false); // idle: nothing
    EXPECT_TRUE(fakes.hud.titles.empty());
    EXPECT_TRUE(fakes.sounds.played.empty());

    controller->keyDown();
    controller->cancel(false);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_FALSE(fakes.recorder.recording);
    EXPECT_EQ(fakes.hud.last(), "Cancelado");
    // The limit of the cancelled recording does not end a later one.
    controller->keyDown();
    fakes.clock.advance(300s);
    EXPECT_EQ(controller->state(), State::idle);
}

TEST_F(ControllerTest, RefusalsBeforeRecording) {
    fakes.recorder.startError = "no hay fuente de sonido";
    controller->keyDown();
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(fakes.hud.last(),
              "No hay micrófono disponible: conecta uno o elige otro en los ajustes de sonido");
    EXPECT_NE(appLog().find("Error de micrófono: no hay fuente de sonido"), std::string::npos);

    fakes.speech.isAvailable = false;
    controller->keyDown();
    EXPECT_EQ(fakes.shell.setupShown, 1);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_TRUE(fakes.sounds.played.empty());
}

// What the user hears and reads when the speech server cannot deliver.
TEST_F(ControllerTest, SpeechFailuresEndTheDictationWithTheirMessage) {
    using Wait = SpeechClient::Wait;
    struct Case {
        const char* name;
        bool ready, launched, portBusy, gaveUp;
        Wait wait;
        Result<std::string> answer;
        std::string message;
        std::size_t requests; // a failed request is sent once more
    };
    const std::string fine = " Hola.\n";
    const Error failed{Error::Kind::transcriptionFailed, {}};
    const std::string failedMessage = userMessage(failed);
    const std::string notReady = userMessage({Error::Kind::speechServerNotReady, {}});
    const std::string missing = userMessage({Error::Kind::speechServerMissing, {}});
    const Case cases[] = {
        // Decided at once, without waiting for a server that will not come.
        {"never launched", false, false, false, false, Wait::ready, fine, missing, 0},
        {"port held by another program", false, true, true, false, Wait::ready, fine,
         "El puerto 8178 está ocupado por otro programa", 0},
        {"given up", false, false, false, true, Wait::ready, fine, notReady, 0},
        // Decided while waiting for a server on its way up.
        {"gone while waited for", false, true, false, false, Wait::notLaunched, fine, missing, 0},
        {"port taken while waited for", false, true, false, false, Wait::portBusy, fine,
         "El puerto 8178 está ocupado por otro programa", 0},
        {"never ready", false, true, false, false, Wait::timedOut, fine, notReady, 0},
        {"given up while waited for", false, true, false, false, Wait::gaveUp, fine, notReady, 0},
        // Decided by the answer.
        {"failed transcription", true, true, false, false, Wait::ready, failed, failedMessage, 2},
        {"nothing understood", true, true, false, false, Wait::ready, std::string(" \n"),
         "No he entendido nada: habla más cerca del micrófono y vuelve a dictar", 1},
    };
    for (const auto& c : cases) {
        fakes.sounds.played.clear();
        fakes.speech.isReady = c.ready;
        fakes.speech.isLaunched = c.launched;
        fakes.speech.isPortBusy = c.portBusy;
        fakes.speech.hasGivenUp = c.gaveUp;
        fakes.speech.waitAnswer = c.wait;
        fakes.speech.answer = c.answer;
        const std::size_t before = fakes.speech.requests().size();
        dictate();
        EXPECT_EQ(controller->state(), State::idle) << c.name;
        EXPECT_EQ(fakes.hud.last().toStdString(), c.message) << c.name;
        EXPECT_EQ(fakes.sounds.played,
                  (std::vector<Sound>{Sound::start, Sound::stop, Sound::error}))
            << c.name;
        EXPECT_EQ(fakes.speech.requests().size(), before + c.requests) << c.name;
        EXPECT_TRUE(fakes.typist.pasted.empty()) << c.name;
    }
    EXPECT_NE(appLog().find("Dictado sin transcribir: " + missing), std::string::npos);
}

// Whatever ends a dictation before its text arrives, its recording stays in memory and
// "Reintentar el último dictado" sends the same audio again, then pastes the text where the user
// is now.
TEST_F(ControllerTest, AFailedDictationIsKeptAndSentAgainOnRetry) {
    using Wait = SpeechClient::Wait;
    struct Case {
        const char* name;
        std::function<void(test::FakeSpeech&)> breakServer;
        Error::Kind shown;
        // The first attempt's: a failed one is sent once more, a timed-out one not (the server
        // is still busy with it).
        std::size_t requests;
    };
    const Case cases[] = {
        {"transcription timed out",
         [](auto& s) {
             s.answer = Error{Error::Kind::transcriptionTimedOut, "330 s"};
         },
         Error::Kind::transcriptionTimedOut, 1},
        {"server died during the request",
         [](auto& s) {
             s.answer = Error{Error::Kind::transcriptionFailed, "sin respuesta: Recv failure"};
         },
         Error::Kind::transcriptionFailed, 2},
        {"server gone before the key",
         [](auto& s) {
             s.isReady = false;
             s.isLaunched = false;
         },
         Error::Kind::speechServerMissing, 0},
        {"server never ready",
         [](auto& s) {
             s.isReady = false;
             s.waitAnswer = Wait::timedOut;
         },
         Error::Kind::speechServerNotReady, 0},
        {"Escape while transcribing", [](auto& s) { s.holdUntilStopped = true; },
         Error::Kind::cancelled, 1},
    };
    auto mend = [&] {
        auto& s = fakes.speech;
        s.isReady = s.isLaunched = true;
        s.waitAnswer = Wait::ready;
        s.holdUntilStopped = false;
        s.answer = std::string(" Lo que dije.\n");
    };
    float marker = 0.1f;
    for (const auto& c : cases) {
        mend();
        fakes.typist.pasted.clear();
        const std::size_t before = fakes.speech.requests().size();
        c.breakServer(fakes.speech);
        // Every case its own recording, so that the retry is seen to send this one.
        marker += 0.1f;
        record(speech(2.0, marker));
        if (c.shown == Error::Kind::cancelled) {
            ASSERT_TRUE(fakes.speech.waitForRequests(before + 1)) << c.name;
            controller->cancel(false);
        }
        ASSERT_TRUE(settle()) << c.name;
        EXPECT_EQ(fakes.hud.last().toStdString(), userMessage({c.shown, {}})) << c.name;
        EXPECT_TRUE(fakes.typist.pasted.empty()) << c.name;
        EXPECT_EQ(fakes.speech.requests().size(), before + c.requests) << c.name;
        ASSERT_TRUE(controller->canRetry()) << c.name;

        mend();
        const std::size_t retried = fakes.speech.requests().size();
        fakes.targets.front = TargetApp{5151, "Firefox", 88};
        ASSERT_TRUE(controller->retryLast()) << c.name;
        EXPECT_EQ(controller->state(), State::processing) << c.name;
        EXPECT_FALSE(controller->canRetry()) << "not while it runs: " << c.name;
        ASSERT_TRUE(settle()) << c.name;
        const auto requests = fakes.speech.requests();
        ASSERT_EQ(requests.size(), retried + 1) << c.name;
        const auto& sent = requests.back().audio;
        ASSERT_EQ(sent.size(), 4800u + 32000u) << c.name;
        EXPECT_EQ(sent[4799], 0.0f) << c.name;
        EXPECT_EQ(sent[4800], marker) << c.name;
        EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{"Lo que dije."}) << c.name;
        // Delivered: nothing is left to retry.
        EXPECT_FALSE(controller->canRetry()) << c.name;
        EXPECT_FALSE(controller->retryLast()) << c.name;
        fakes.targets.front = TargetApp{4242, "Gedit", 77};
    }
    EXPECT_NE(appLog().find("Reintento del último dictado (2.0 s)"), std::string::npos);
}

// The kept recording is the latest one sent: one not heard keeps the older, a delivered one drops
// it, and a press while a retry runs does nothing.
TEST_F(ControllerTest, TheKeptRecordingIsTheLatestSent) {
    EXPECT_FALSE(controller->canRetry());
    EXPECT_FALSE(controller->retryLast());
    fakes.speech.answer = Error{Error::Kind::transcriptionFailed, {}};
    dictate(speech(1.0, 0.3f));
    ASSERT_TRUE(controller->canRetry());

    dictate({std::vector<float>(1000, 0.5f), 0.5f}); // too short: not sent, not kept
    EXPECT_EQ(fakes.hud.last(), "No te he oído");
    EXPECT_TRUE(controller->canRetry());

    dictate(speech(1.5, 0.4f)); // fails too, and replaces the first
    fakes.speech.answer = std::string(" Hola.\n");
    fakes.speech.holdUntilStopped = true;
    ASSERT_TRUE(controller->retryLast());
    controller->keyDown(); // a press while the retry runs starts nothing
    EXPECT_EQ(controller->state(), State::processing);
    EXPECT_FALSE(controller->retryLast());
    ASSERT_TRUE(fakes.speech.waitForRequests(3));
    EXPECT_EQ(fakes.speech.requests()[2].samples, 4800u + 24000u);
    controller->cancel(true);
    fakes.speech.holdUntilStopped = false;

    dictate(speech(1.0, 0.2f)); // delivered
    EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{"Hola."});
    EXPECT_FALSE(controller->canRetry());
}

TEST_F(ControllerTest, PolishIsKeptOnlyWhenItPassesTheCheck) {
    struct Case {
        const char* name;
        bool ready;
        PolishPlan::Outcome plan;
        Result<std::string> answer;
        std::string raw;
        std::string delivered;
        bool sent;
    };
    const Error failed{Error::Kind::polishFailed, "tiempo"};
    const Case cases[] = {
        {"accepted", true, PolishPlan::Outcome::polish, std::string("Eh, hola, ¿qué tal estás?"),
         " eh hola que tal estas\n", "Eh, hola, ¿qué tal estás?", true},
        {"refused: a number invented", true, PolishPlan::Outcome::polish,
         std::string("Hola, ¿qué tal estás? 3"), " hola que tal estas\n", "hola que tal estas",
         true},
        {"no answer", true, PolishPlan::Outcome::polish, failed, " hola que tal estas\n",
         "hola que tal estas", true},
        {"too slow to wait for", true, PolishPlan::Outcome::tooSlow, std::string("x"),
         " hola que tal estas\n", "hola que tal estas", false},
        {"server not ready", false, PolishPlan::Outcome::polish, std::string("x"),
         " hola que tal estas\n", "hola que tal estas", false},
        {"under three words", true, PolishPlan::Outcome::polish, std::string("x"), " hola amigo\n",
         "hola amigo", false},
    };
    for (const auto& c : cases) {
        fakes.typist.pasted.clear();
        fakes.polish.isReady = c.ready;
        fakes.polish.answerPlan.outcome = c.plan;
        fakes.polish.answer = c.answer;
        fakes.speech.answer = c.raw;
        const std::size_t before = fakes.polish.sent().size();
        dictate();
        EXPECT_EQ(fakes.polish.sent().size(), before + (c.sent ? 1 : 0)) << c.name;
        EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{c.delivered}) << c.name;
    }
    EXPECT_NE(appLog().find("descartada: cifras"), std::string::npos);
    EXPECT_NE(appLog().find("IA 0.00 s · fallida: tiempo"), std::string::npos);
}

// Escape, a newer dictation and quit each end a transcription in flight at once, and what it
// would have answered never arrives.
TEST_F(ControllerTest, WorkInFlightIsStopped) {
    fakes.speech.holdUntilStopped = true;
    record();
    ASSERT_TRUE(fakes.speech.waitForRequests(1));
    controller->keyDown(); // a press while processing starts nothing
    EXPECT_EQ(controller->state(), State::processing);
    controller->cancel(false);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(fakes.hud.last(), "Cancelado");
    ASSERT_TRUE(fakes.speech.waitForStopped(1));

    // At once the next dictation, which the server answers.
    fakes.speech.holdUntilStopped = false;
    fakes.speech.answer = std::string(" Segundo dictado.\n");
    dictate();
    EXPECT_EQ(fakes.speech.stoppedRequests(), 1);
    EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{"Segundo dictado."});

    // Quit while a transcription hangs: the controller goes without waiting for the server.
    fakes.speech.holdUntilStopped = true;
    record();
    ASSERT_TRUE(fakes.speech.waitForRequests(3));
    controller.reset();
    EXPECT_EQ(fakes.speech.stoppedRequests(), 2);
    fakes.main.runPending(); // whatever was posted finds the controller gone
    EXPECT_EQ(fakes.typist.pasted.size(), 1u);
}

// Sound in blocks of `block` seconds with pauses of 0.8 s between them.
std::vector<float> spokenBlocks(int blocks, double block) {
    std::vector<float> audio;
    for (int i = 0; i < blocks; ++i) {
        audio.insert(audio.end(), static_cast<std::size_t>(block * 16000), 0.5f);
        audio.insert(audio.end(), static_cast<std::size_t>(0.8 * 16000), 0.0f);
    }
    return audio;
}

TEST_F(ControllerTest, PiecesGoOutWhileTheKeyIsHeldAndEscapeStopsThem) {
    const std::vector<float> audio = spokenBlocks(5, 4.0);
    fakes.speech.holdUntilStopped = true;
    controller->keyDown();
    fakes.recorder.live(audio);
    ASSERT_TRUE(fakes.speech.waitForRequests(1));
    EXPECT_EQ(controller->state(), State::recording);
    EXPECT_EQ(fakes.hud.last(), "Escuchando");
    controller->cancel(false);
    ASSERT_TRUE(fakes.speech.waitForStopped(1));
    fakes.main.runPending();
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_TRUE(fakes.typist.pasted.empty());

    // The next one: pieces while recording, the rest at the release, every text once, in order.
    fakes.speech.holdUntilStopped = false;
    const std::size_t before = fakes.speech.requests().size();
    controller->keyDown();
    fakes.recorder.live(audio);
    // What is there at once goes together; the last stretch waits for the release.
    ASSERT_TRUE(fakes.speech.waitForRequests(before + 1));
    EXPECT_EQ(controller->state(), State::recording);
    fakes.clock.advance(1s);
    fakes.recorder.next = {audio, 0.5f};
    controller->keyUp();
    ASSERT_TRUE(settle());
    const auto requests = fakes.speech.requests();
    // The last stretch is only the closing pause, which is not sent: no word in it.
    EXPECT_GE(requests.size(), before + 1);
    EXPECT_LE(requests.size(), before + 2);
    std::size_t sent = 0;
    std::string expected;
    for (std::size_t i = before; i < requests.size(); ++i) {
        sent += requests[i].samples;
        expected += std::string(expected.empty() ? "" : " ") + "Hola, ¿qué tal estás?";
    }
    // All the audio once, with the silence put before the first piece; at most the closing
    // pause left out.
    EXPECT_LE(sent, audio.size() + 4800);
    EXPECT_GE(sent, audio.size() + 4800 - static_cast<std::size_t>(0.8 * 16000));
    EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{expected});
}

// The server lost on a piece sent while the key is still held: the recording goes on to the
// release, and only then does the dictation fail, kept whole for a retry.
TEST_F(ControllerTest, AServerLostWhileTheKeyIsHeldFailsAtTheRelease) {
    const std::vector<float> audio = spokenBlocks(5, 4.0);
    fakes.speech.answer = Error{Error::Kind::transcriptionFailed, "sin respuesta: Recv failure"};
    controller->keyDown();
    fakes.recorder.live(audio);
    ASSERT_TRUE(fakes.speech.waitForRequests(2)); // the piece, and once more
    // Time for a failure to be posted, were it posted before the release.
    std::this_thread::sleep_for(200ms);
    fakes.main.runPending();
    EXPECT_EQ(controller->state(), State::recording);
    EXPECT_EQ(fakes.hud.last(), "Escuchando");

    fakes.clock.advance(1s);
    fakes.recorder.next = {audio, 0.5f};
    controller->keyUp();
    ASSERT_TRUE(settle());
    EXPECT_EQ(fakes.hud.last().toStdString(), userMessage({Error::Kind::transcriptionFailed, {}}));
    ASSERT_TRUE(controller->canRetry());

    fakes.speech.answer = std::string(" Lo que dije.\n");
    const std::size_t before = fakes.speech.requests().size();
    ASSERT_TRUE(controller->retryLast());
    ASSERT_TRUE(settle());
    const auto requests = fakes.speech.requests();
    std::size_t sent = 0;
    for (std::size_t i = before; i < requests.size(); ++i) {
        sent += requests[i].samples;
    }
    // The whole recording after the leading silence; at most the closing pause left out.
    EXPECT_LE(sent, audio.size() + 4800);
    EXPECT_GE(sent, audio.size() + 4800 - static_cast<std::size_t>(0.8 * 16000));
    ASSERT_EQ(fakes.typist.pasted.size(), 1u);
}

TEST_F(ControllerTest, DeliverPastesOnlyIntoTheStillFrontmostTarget) {
    struct Case {
        const char* name;
        bool trusted;
        bool pasteFails;
        std::optional<TargetApp> target;
        std::optional<TargetApp> now;
        const char* message; // empty: pasted
        LeftReason why = LeftReason::focusMoved;
    };
    const TargetApp editor{4242, "Gedit", 77};
    const TargetApp other{5151, "Firefox", 88};
    const TargetApp terminal{6161, "XTerm", 89};
    const TargetApp us = fakes.targets.self;
    const Case cases[] = {
        {"same target", true, false, editor, editor, ""},
        {"focus moved", true, false, editor, other, "Copiado: pega con Ctrl+V"},
        {"focus moved to a terminal", true, false, editor, terminal,
         "Copiado: pega con Ctrl+Mayús+V"},
        {"no target", true, false, std::nullopt, editor, "Copiado: pega con Ctrl+V",
         LeftReason::targetUnknown},
        {"nothing focused", true, false, editor, std::nullopt, "Copiado: pega con Ctrl+V"},
        {"our own window", true, false, us, us, "Copiado: pega con Ctrl+V", LeftReason::ownWindow},
        {"no key access", false, false, editor, editor, "Copiado · falta permiso"},
        {"the paste stroke failed", true, true, editor, editor, "Copiado: pega con Ctrl+V",
         LeftReason::pasteFailed},
    };
    fakes.typist.leadingSpace = true;
    for (const auto& c : cases) {
        fakes.typist.pasted.clear();
        fakes.typist.copied.clear();
        fakes.shell.clipboardNotices.clear();
        fakes.typist.isTrusted = c.trusted;
        fakes.typist.pasteFails = c.pasteFails;
        fakes.targets.front = c.now;
        controller->deliver("Hola.", c.target);
        EXPECT_EQ(controller->state(), State::idle) << c.name;
        if (*c.message == '\0') {
            EXPECT_EQ(fakes.typist.pasted, std::vector<std::string>{" Hola."}) << c.name;
            EXPECT_TRUE(fakes.typist.copied.empty()) << c.name;
        } else {
            EXPECT_TRUE(fakes.typist.pasted.empty()) << c.name;
            // The clipboard never gets the leading space.
            EXPECT_EQ(fakes.typist.copied, std::vector<std::string>{"Hola."}) << c.name;
            EXPECT_EQ(fakes.hud.last(), c.message) << c.name;
            ASSERT_EQ(fakes.shell.clipboardNotices.size(), c.trusted ? 1u : 0u) << c.name;
            if (c.trusted) {
                // The notice says why, and names the paste keys of the window focused now.
                EXPECT_EQ(fakes.shell.clipboardNotices[0].second, c.why) << c.name;
                EXPECT_EQ(fakes.shell.clipboardNotices[0].first, std::string(c.message).substr(18))
                    << c.name;
            }
        }
    }
}

TEST_F(ControllerTest, HistoryKeepsTheNewestFifteen) {
    for (int i = 1; i <= 16; ++i) {
        controller->deliver("dictado " + std::to_string(i), std::nullopt);
    }
    ASSERT_EQ(controller->history().size(), 15u);
    EXPECT_EQ(controller->history().front(), "dictado 16");
    EXPECT_EQ(controller->history().back(), "dictado 2");
}

TEST_F(ControllerTest, StaleFailuresChangeNothing) {
    const Error failed{Error::Kind::transcriptionFailed, {}};
    controller->fail(7, failed); // generation 7 is not current
    EXPECT_TRUE(fakes.sounds.played.empty());
    EXPECT_TRUE(fakes.hud.titles.empty());
    controller->fail(0, failed);
    EXPECT_EQ(fakes.sounds.played, std::vector<Sound>{Sound::error});
    EXPECT_EQ(fakes.hud.last().toStdString(), userMessage(failed));
}

// Pasting lifts a dictation key still held and presses it again: that press is not the user's.
TEST_F(ControllerTest, OurOwnPressAfterAPasteStartsNoRecording) {
    fakes.keys.held = true;
    dictate();
    ASSERT_EQ(fakes.typist.pasted.size(), 1u);
    controller->keyDown();
    EXPECT_EQ(controller->state(), State::idle);
    controller->keyDown(); // the next one is the user's again
    EXPECT_EQ(controller->state(), State::recording);
    controller->cancel(true);

    dictate();
    fakes.clock.advance(1s); // too late to be ours
    controller->keyDown();
    EXPECT_EQ(controller->state(), State::recording);
}

TEST_F(ControllerTest, AClaimedPressStartsNoRecording) {
    int seen = 0;
    controller->claimNextPress([&] { ++seen; });
    controller->keyDown();
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(controller->state(), State::idle);
    controller->keyDown();
    EXPECT_EQ(controller->state(), State::recording);
}

TEST_F(ControllerTest, SoundsFollowThePreference) {
    Prefs::setSounds(false);
    dictate();
    EXPECT_TRUE(fakes.sounds.played.empty());
}

} // namespace
} // namespace vozmo
