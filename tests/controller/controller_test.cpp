#include "app_delegate.h"
#include "config.h"
#include "fake_audio_input.h"
#include "hud.h"
#include "prefs.h"
#include "setup_window.h"
#include "standin.h"
#include "temp_home.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

void pump(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
    } while (timer.elapsed() < duration.count());
}

class RecordingSounds final : public SoundPlayer {
public:
    explicit RecordingSounds(std::vector<std::string>& played) : played_(played) {}
    void play(const std::string& name) override { played_.push_back(name); }

private:
    std::vector<std::string>& played_;
};

// The controller with every desktop part replaced by a fake that records what it was asked.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        // whisper-server is found and its model exists, but no server is started here.
        ::setenv("PATH", (test::standinBinDir().string() + ":" + savedPath_).c_str(), 1);
        ensureSupport();
        test::writeFile(config().whisperModelPath, "");
        Prefs::setBool("setupShown", true);

        AppEnvironment env;
        env.accessibilityTrusted = [this] { return trusted; };
        env.microphoneStatus = [this] { return micStatus; };
        env.openMicrophoneSettings = [this] { ++settingsOpened; };
        env.frontmostApp = [this] { return frontmost; };
        env.ownIdentity = [] { return TargetApp{::getpid(), "Vozmo", 0}; };
        env.needsLeadingSpace = [this] { return leadingSpace; };
        env.paste = [this](const std::string& text) { pasted.push_back(text); };
        env.copyText = [this](const std::string& text) { copied.push_back(text); };
        env.makeAudioInput = [this]() -> std::unique_ptr<AudioInput> {
            test::FakeAudioInput::Setup setup;
            if (micFails) {
                setup.openError = AudioInputError{true, "no hay fuente de sonido"};
            }
            auto input = std::make_unique<test::FakeAudioInput>(setup);
            microphone = input.get();
            return input;
        };
        env.sounds = std::make_unique<RecordingSounds>(sounds);
        app = std::make_unique<AppDelegate>(std::move(env));
    }
    void TearDown() override {
        app.reset();
        ::setenv("PATH", savedPath_.c_str(), 1);
    }

    QString hudTitle() { return app->hud().view().windowTitle(); }
    void speak(size_t samples, float value) {
        std::vector<float> chunk(samples, value);
        microphone->deliver(chunk);
    }
    bool setupShown() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (dynamic_cast<SetupWindow*>(w) != nullptr && w->isVisible()) {
                return true;
            }
        }
        return false;
    }

    test::TempHome home;
    std::string savedPath_;
    bool trusted = true;
    MicrophoneStatus micStatus = MicrophoneStatus::authorized;
    int settingsOpened = 0;
    bool micFails = false;
    std::optional<TargetApp> frontmost = TargetApp{4242, "Gedit", 77};
    bool leadingSpace = false;
    std::vector<std::string> pasted;
    std::vector<std::string> copied;
    std::vector<std::string> sounds;
    test::FakeAudioInput* microphone = nullptr;
    std::unique_ptr<AppDelegate> app;
};

TEST_F(ControllerTest, HoldRecordsAndReleaseEndsTooShortRecordings) {
    app->keyDown();
    EXPECT_EQ(app->state(), State::recording);
    EXPECT_EQ(hudTitle(), "Escuchando");
    EXPECT_EQ(sounds, std::vector<std::string>{"Tink"});
    pump(350ms);
    speak(6399, 0.5f); // one sample short of 0.4 s
    app->keyUp();
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_EQ(hudTitle(), "No te he oído");
    EXPECT_EQ((std::vector<std::string>{"Tink", "Pop"}), sounds);
}

TEST_F(ControllerTest, ATapStartsHandsFreeAndTheNextPressEndsIt) {
    app->keyDown();
    app->keyUp(); // well under 0.3 s
    EXPECT_EQ(app->state(), State::recording);
    EXPECT_EQ(hudTitle(), "Manos libres");
    app->otherKey(); // ignored while hands-free
    app->keyUp();
    EXPECT_EQ(app->state(), State::recording);
    speak(3000, 0.5f);
    app->keyDown();
    EXPECT_EQ(hudTitle(), "No te he oído"); // 3000 samples are too short
    EXPECT_EQ(app->state(), State::idle);
    app->keyUp();
    EXPECT_EQ(app->state(), State::idle);
}

TEST_F(ControllerTest, AnotherKeySoonAfterTheStartDiscardsSilently) {
    app->keyDown();
    speak(16000, 0.5f);
    app->otherKey();
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_EQ(sounds, std::vector<std::string>{"Tink"}); // no "Pop", no message
    EXPECT_EQ(hudTitle(), "Escuchando");
    pump(400ms);
    EXPECT_FALSE(app->hud().view().isVisible());
}

TEST_F(ControllerTest, AnotherKeyLaterIsIgnored) {
    app->keyDown();
    pump(1600ms);
    app->otherKey();
    EXPECT_EQ(app->state(), State::recording);
    app->cancel(false);
    EXPECT_EQ(hudTitle(), "Cancelado");
    EXPECT_EQ(app->state(), State::idle);
}

TEST_F(ControllerTest, EscapeWhileIdleDoesNothing) {
    app->cancel(false);
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_TRUE(sounds.empty());
    EXPECT_FALSE(app->hud().view().isVisible());
}

// An accepted recording whose speech server was never launched (here nothing starts the
// servers) is not kept waiting for it: the user hears at once what is missing. Escape while a
// launched server works is covered end to end.
TEST_F(ControllerTest, AcceptedRecordingWithoutALaunchedSpeechServerFailsAtOnce) {
    app->keyDown();
    pump(350ms);
    speak(6400, 0.006f); // exactly 0.4 s at exactly the quietest accepted peak
    app->keyUp();
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_EQ(hudTitle(), "Falta whisper-server");
    EXPECT_NE(test::readFile(config().logsDir / "app.log")
                  .find("Dictado sin transcribir: Falta whisper-server"),
              std::string::npos);
}

TEST_F(ControllerTest, RefusalsBeforeRecording) {
    // Microphone denied: a message and the settings, every time.
    micStatus = MicrophoneStatus::denied;
    app->keyDown();
    app->keyDown();
    EXPECT_EQ(settingsOpened, 2);
    EXPECT_EQ(hudTitle(), "Permite el micrófono en Ajustes");
    EXPECT_EQ(app->state(), State::idle);

    // No microphone: logged and shown.
    micStatus = MicrophoneStatus::authorized;
    micFails = true;
    app->keyDown();
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_EQ(hudTitle(), "No hay micrófono disponible");
    EXPECT_NE(test::readFile(config().logsDir / "app.log")
                  .find("Error de micrófono: no hay fuente de sonido"),
              std::string::npos);

    // No speech model: the setup window instead of a recording.
    std::filesystem::remove(config().whisperModelPath);
    EXPECT_FALSE(setupShown());
    app->keyDown();
    EXPECT_EQ(app->state(), State::idle);
    EXPECT_TRUE(setupShown());
    EXPECT_TRUE(sounds.empty());
}

TEST_F(ControllerTest, DeliverPastesOnlyIntoTheStillFrontmostTarget) {
    struct Case {
        const char* name;
        bool trusted;
        std::optional<TargetApp> target;
        std::optional<TargetApp> now;
        bool pastes;
        const char* message;
    };
    const TargetApp editor{4242, "Gedit", 77};
    const TargetApp other{5151, "Firefox", 88};
    const TargetApp terminal{6161, "XTerm", 89};
    const TargetApp us{::getpid(), "Vozmo", 99};
    const Case cases[] = {
        {"same target", true, editor, editor, true, ""},
        {"focus moved", true, editor, other, false, "Copiado: pega con Ctrl+V"},
        {"focus moved to a terminal", true, editor, terminal, false,
         "Copiado: pega con Ctrl+Mayús+V"},
        {"no target", true, std::nullopt, editor, false, "Copiado: pega con Ctrl+V"},
        {"nothing frontmost", true, editor, std::nullopt, false, "Copiado: pega con Ctrl+V"},
        {"our own window", true, us, us, false, "Copiado: pega con Ctrl+V"},
        {"no key access", false, editor, editor, false, "Copiado · falta permiso"},
    };
    for (const auto& c : cases) {
        pasted.clear();
        copied.clear();
        trusted = c.trusted;
        frontmost = c.now;
        leadingSpace = true;
        app->deliver("Hola.", c.target);
        EXPECT_EQ(app->state(), State::idle) << c.name;
        if (c.pastes) {
            EXPECT_EQ(pasted, std::vector<std::string>{" Hola."}) << c.name;
            EXPECT_TRUE(copied.empty()) << c.name;
        } else {
            EXPECT_TRUE(pasted.empty()) << c.name;
            // The clipboard never gets the leading space.
            EXPECT_EQ(copied, std::vector<std::string>{"Hola."}) << c.name;
            EXPECT_EQ(hudTitle(), c.message) << c.name;
        }
    }
    EXPECT_EQ(app->history().front(), "Hola.");
}

TEST_F(ControllerTest, HistoryKeepsTheNewestFifteen) {
    for (int i = 1; i <= 16; ++i) {
        app->deliver("dictado " + std::to_string(i), std::nullopt);
    }
    ASSERT_EQ(app->history().size(), 15u);
    EXPECT_EQ(app->history().front(), "dictado 16");
    EXPECT_EQ(app->history().back(), "dictado 2");
}

TEST_F(ControllerTest, StaleFailuresChangeNothing) {
    app->fail(7, "Error al transcribir"); // generation 7 is not current
    EXPECT_TRUE(sounds.empty());
    EXPECT_FALSE(app->hud().view().isVisible());
    app->fail(0, "Error al transcribir");
    EXPECT_EQ(sounds, std::vector<std::string>{"Basso"});
    EXPECT_EQ(hudTitle(), "Error al transcribir");
}

TEST_F(ControllerTest, SoundsFollowThePreference) {
    Prefs::setSounds(false);
    app->keyDown();
    app->cancel(true);
    EXPECT_TRUE(sounds.empty());
}

} // namespace
} // namespace vozmo
