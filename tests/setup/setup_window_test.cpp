#include "setup_window.h"

#include "model_catalog.h"

#include "desktop_setup.h"

#include "fake_setup_environment.h"
#include "model_server.h"
#include "prefs.h"
#include "temp_home.h"
#include "wait.h"
#include "wayland_backends.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kSize = 2000000;

// What one row shows: its detail, whether the check mark is there, and its visible buttons.
struct RowView {
    QString title;
    QString detail;
    bool check = false;
    QStringList buttons;
    bool progressBar = false;
};

class SetupWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("no_proxy", "127.0.0.1", 1);
        desktop.micStatus = 1;
        desktop.keyAccess = false;
    }

    void TearDown() override { host.reset(); }

    void makeSetup(const std::string& first = "/file/2000000",
                   const std::string& second = "/file/2000000") {
        auto downloader = std::make_unique<Downloader>(std::vector<ModelSpec>{
            {"Whisper", server.url(first), config().whisperModelPath, kSize},
            {"IA de pulido", server.url(second), config().llmModelPath, kSize}});
        downloader->trustedCertificates = server.certificate();
        setup = std::make_unique<vozmo::Setup>(desktop.environment(), std::move(downloader));
        host = std::make_unique<SetupWindowHost>(*setup);
        host->showSetup();
        ASSERT_NE(host->window(), nullptr);
        ASSERT_TRUE(test::waitUntil([&] { return host->window()->isVisible(); }));
    }

    void writeModels() {
        test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
        test::writeFile(config().llmModelPath, std::string(kSize, 'l'));
    }

    SetupWindow& window() { return *host->window(); }

    RowView row(const char* name) {
        auto* frame = window().findChild<QWidget*>(name);
        EXPECT_NE(frame, nullptr) << name;
        RowView view;
        if (frame == nullptr) {
            return view;
        }
        view.title = frame->findChild<QLabel*>("title")->text();
        view.detail = frame->findChild<QLabel*>("detail")->text();
        view.check = frame->findChild<QLabel*>("check")->isVisibleTo(&window());
        for (auto* button : frame->findChildren<QPushButton*>()) {
            if (button->isVisibleTo(&window())) {
                view.buttons << button->text();
            }
        }
        auto* bar = frame->findChild<QProgressBar*>();
        view.progressBar = bar != nullptr && bar->isVisibleTo(&window());
        return view;
    }

    QPushButton* button(const char* name) { return window().findChild<QPushButton*>(name); }

    QPushButton* start() { return button("startButton"); }

    // Pictures of the window as the user sees it, into the build folder unless
    // VOZMO_SCREENSHOT_DIR names another (the README's are made with it pointing at docs/).
    void screenshot(const char* name) {
        QCoreApplication::processEvents();
        QString folder = qEnvironmentVariable("VOZMO_SCREENSHOT_DIR", VOZMO_SCREENSHOT_DIR);
        QDir().mkpath(folder);
        QString file = QString("%1/setup-%2.png").arg(folder, name);
        EXPECT_TRUE(window().grab().save(file)) << file.toStdString();
    }

    test::TempHome home;
    test::ModelServer server;
    test::FakeDesktop desktop;
    std::unique_ptr<vozmo::Setup> setup;
    std::unique_ptr<SetupWindowHost> host;
};

TEST_F(SetupWindowTest, FirstLaunchShowsEveryStepsButton) {
    makeSetup();
    EXPECT_EQ(window().width(), SetupWindow::kWidth);
    RowView models = row("modelsRow");
    // The sizes of what this machine gets by default, and where to copy them by hand.
    EXPECT_EQ(models.detail, defaultTier(machineFacts()) == ModelTier::fast
                                 ? "265 MB + 1,1 GB, una sola vez. Sin internet: cópialos a mano "
                                   "en ~/data/Vozmo/models."
                                 : "870 MB + 2,5 GB, una sola vez. Sin internet: cópialos a mano "
                                   "en ~/data/Vozmo/models.");
    EXPECT_EQ(models.buttons, (QStringList{"Descargar", "Ayuda"}));
    EXPECT_FALSE(models.check);
    EXPECT_EQ(row("micRow").buttons, QStringList{"Abrir Ajustes"});
    EXPECT_EQ(row("micRow").detail,
              "No hay micrófono por defecto. Elige uno en los ajustes de sonido.");
    EXPECT_EQ(row("accessRow").buttons, QStringList{"Ver ayuda"});
    EXPECT_EQ(row("fnRow").buttons, QStringList{"Configurar"});
    EXPECT_FALSE(row("fnRow").check);
    EXPECT_FALSE(start()->isEnabled());
    EXPECT_EQ(window().findChild<QLabel*>("hint")->text(),
              "Mantén Fn, habla y suelta. Toque corto: manos libres.");
    screenshot("first-launch");

    button("micButton")->click();
    EXPECT_EQ(desktop.soundSettingsOpened, 1);
    button("accessButton")->click();
    EXPECT_EQ(desktop.permissionsHelpShown, 1);
    button("modelsHelpButton")->click();
    EXPECT_EQ(desktop.modelsHelpShown, 1);
}

TEST_F(SetupWindowTest, ModelChoiceSaysSizesAndSpeedAndIsRemembered) {
    writeModels();
    chooseTier(ModelRole::speech, ModelTier::fast);
    chooseTier(ModelRole::polish, ModelTier::accurate);
    makeSetup();
    auto* speech = window().findChild<QComboBox*>("speechModel");
    auto* polish = window().findChild<QComboBox*>("polishModel");
    ASSERT_NE(speech, nullptr);
    ASSERT_NE(polish, nullptr);
    auto items = [](QComboBox* combo) {
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i) {
            texts << combo->itemText(i);
        }
        return texts;
    };
    EXPECT_EQ(items(speech), (QStringList{"Rápido · Whisper small · 265 MB",
                                          "Preciso · Whisper large-v3-turbo · 870 MB"}));
    EXPECT_EQ(items(polish),
              (QStringList{"Rápido · Qwen3 1.7B · 1,1 GB", "Preciso · Qwen3 4B · 2,5 GB"}));
    EXPECT_EQ(speech->currentIndex(), 0);
    EXPECT_EQ(polish->currentIndex(), 1);
    auto speed = [&](const char* name) {
        return window().findChild<QLabel*>(name)->text().toStdString();
    };
    const auto options = modelOptions();
    EXPECT_EQ(speed("speechModelSpeed"),
              modelOption(options, ModelRole::speech, ModelTier::fast).speedClass);
    EXPECT_EQ(speed("polishModelSpeed"),
              modelOption(options, ModelRole::polish, ModelTier::accurate).speedClass);
    const MachineFacts machine = machineFacts();
    EXPECT_EQ(speed("machineNote"),
              "Este equipo: " + std::to_string(machine.physicalCores) +
                  (machine.physicalCores == 1 ? " núcleo" : " núcleos") +
                  (machine.gpu ? ", con GPU" : ", sin GPU") + ". Recomendado: " +
                  (defaultTier(machine) == ModelTier::fast ? "rápido" : "preciso") + ".");
    screenshot("models");

    // Picking the fast polish model: remembered, and its file is fetched (the test server's
    // file stands for it).
    polish->setCurrentIndex(0);
    emit polish->activated(0);
    EXPECT_EQ(chosenTier(ModelRole::polish), ModelTier::fast);
    EXPECT_EQ(speed("polishModelSpeed"),
              modelOption(options, ModelRole::polish, ModelTier::fast).speedClass);
}

TEST_F(SetupWindowTest, DownloadingShowsTheProgressInsteadOfAButton) {
    makeSetup("/slow/8000000");
    button("downloadButton")->click();
    ASSERT_TRUE(test::waitUntil([&] { return row("modelsRow").detail.contains(" MB"); }));
    // Enough of the body for a visible bar.
    ASSERT_TRUE(test::waitUntil([&] { return setup->progress() > 0.35; }));
    RowView models = row("modelsRow");
    EXPECT_TRUE(models.detail.startsWith("Whisper (1/2): ")) << models.detail.toStdString();
    EXPECT_TRUE(models.progressBar);
    EXPECT_TRUE(models.buttons.isEmpty());
    EXPECT_GT(window().findChild<QProgressBar*>("downloadProgress")->value(), 0);
    screenshot("downloading");
}

TEST_F(SetupWindowTest, FailedDownloadOffersARetry) {
    makeSetup("/missing");
    button("downloadButton")->click();
    ASSERT_TRUE(test::waitUntil([&] { return setup->downloadFailed(); }));
    RowView models = row("modelsRow");
    EXPECT_EQ(models.detail, "Falló la descarga: revisa la conexión o cópialos a mano en "
                             "~/data/Vozmo/models.");
    EXPECT_EQ(models.buttons, (QStringList{"Reintentar", "Ayuda"}));
    EXPECT_FALSE(models.progressBar);
    screenshot("failed");
}

TEST_F(SetupWindowTest, ReadyEnablesEmpezarAndReturnActivatesIt) {
    writeModels();
    desktop.micStatus = 3;
    desktop.keyAccess = true;
    makeSetup();
    for (const char* name : {"modelsRow", "micRow", "accessRow"}) {
        EXPECT_TRUE(row(name).check) << name;
        EXPECT_TRUE(row(name).buttons.isEmpty()) << name;
    }
    EXPECT_EQ(row("modelsRow").detail, "Listos.");
    EXPECT_FALSE(row("fnRow").check); // recommended, not required
    EXPECT_TRUE(start()->isEnabled());
    screenshot("ready");

    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&window(), &press);
    EXPECT_TRUE(test::waitUntil([&] { return !window().isVisible(); }));
}

TEST_F(SetupWindowTest, MissingServerProgramsAreNamedWithWhereToRead) {
    writeModels();
    desktop.micStatus = 3;
    desktop.keyAccess = true;
    desktop.programs = {};
    makeSetup();
    RowView models = row("modelsRow");
    EXPECT_FALSE(models.check);
    EXPECT_TRUE(models.detail.contains("whisper-server")) << models.detail.toStdString();
    EXPECT_TRUE(models.detail.contains("llama-server"));
    EXPECT_EQ(models.detail, "Faltan whisper-server (para dictar) y llama-server (para pulir). "
                             "Cópialos en ~/.local/bin.");
    EXPECT_EQ(models.buttons, QStringList{"Cómo instalarlo"});
    EXPECT_FALSE(start()->isEnabled());
    button("serversHelpButton")->click();
    EXPECT_EQ(desktop.serversHelpShown, 1);
    screenshot("missing-server");

    // whisper-server copied in: dictation can start; polishing is still missing and said so.
    desktop.programs = {"whisper-server"};
    ASSERT_TRUE(test::waitUntil([&] { return start()->isEnabled(); }, 30s));
    models = row("modelsRow");
    // Dictation works without llama-server: the text says so rather than "no dictation".
    EXPECT_EQ(models.detail,
              "Falta llama-server: dictas, pero sin pulir. Cópialo en ~/.local/bin.");
    EXPECT_EQ(models.buttons, QStringList{"Cómo instalarlo"});

    desktop.programs = {"whisper-server", "llama-server"};
    ASSERT_TRUE(test::waitUntil([&] { return row("modelsRow").check; }, 30s));
    EXPECT_EQ(row("modelsRow").detail, "Listos.");
}

TEST_F(SetupWindowTest, FnRowFindsTheKeyOrSwitchesToRightAlt) {
    makeSetup();
    setup->fnWatchSeconds = 0.3;
    button("fnButton")->click();
    EXPECT_EQ(row("fnRow").detail, "Pulsa la tecla Fn ahora… (quedan 1 s)");
    EXPECT_EQ(row("fnRow").buttons, QStringList{"Cancelar"});
    ASSERT_TRUE(
        test::waitUntil([&] { return setup->fnCheck() == vozmo::Setup::FnCheck::NotSeen; }));
    RowView fn = row("fnRow");
    // Nothing is chosen yet: the row offers the choice and keeps its title.
    EXPECT_EQ(fn.title, "Tecla Fn (recomendado)");
    EXPECT_EQ(fn.detail, "No he visto la tecla Fn: tu teclado no la envía. Elige Alt derecha.");
    EXPECT_EQ(fn.buttons, (QStringList{"Usar Alt derecha", "Reintentar"}));
    EXPECT_EQ(Prefs::hotkey(), "fn");
    screenshot("fn-not-seen");

    button("rightAltButton")->click();
    EXPECT_TRUE(row("fnRow").check);
    EXPECT_EQ(row("fnRow").title, "Tecla de dictado: Alt derecha");
    EXPECT_EQ(row("fnRow").detail, "Dictas con la tecla Alt derecha.");
    EXPECT_EQ(Prefs::hotkey(), "ropt");
    EXPECT_EQ(window().findChild<QLabel*>("hint")->text(),
              "Mantén Alt derecha, habla y suelta. Toque corto: manos libres.");
}

TEST_F(SetupWindowTest, FnRowDoneOnceTheKeyIsSeen) {
    makeSetup();
    button("fnButton")->click();
    ASSERT_TRUE(desktop.fnWatcher);
    desktop.fnWatcher();
    EXPECT_TRUE(row("fnRow").check);
    EXPECT_EQ(row("fnRow").title, "Tecla de dictado: Fn");
    EXPECT_EQ(row("fnRow").detail, "Tu teclado envía la tecla Fn.");
}

TEST_F(SetupWindowTest, FnCheckCountsDownAndCanBeCancelled) {
    makeSetup();
    setup->fnWatchSeconds = 30;
    button("fnButton")->click();
    EXPECT_EQ(row("fnRow").detail, "Pulsa la tecla Fn ahora… (quedan 30 s)");
    ASSERT_TRUE(test::waitUntil(
        [&] { return row("fnRow").detail == "Pulsa la tecla Fn ahora… (quedan 29 s)"; }, 5s));
    button("fnCancelButton")->click();
    EXPECT_EQ(setup->fnCheck(), vozmo::Setup::FnCheck::Idle);
    EXPECT_EQ(desktop.watchesStopped, 1);
    RowView fn = row("fnRow");
    EXPECT_EQ(fn.title, "Tecla Fn (recomendado)");
    EXPECT_EQ(fn.detail, "Comprueba si tu teclado envía la tecla Fn; si no, usa Alt derecha.");
    EXPECT_EQ(fn.buttons, QStringList{"Configurar"});
    EXPECT_FALSE(fn.check);
}

TEST_F(SetupWindowTest, RowsSayWhichPartOfTheDesktopIsMissing) {
    makeSetup();
    const struct {
        std::vector<std::string> missing;
        const char* detail;
    } cases[] = {
        {{"XTEST"}, "Tu servidor X no ofrece XTEST: Vozmo no puede pegar el texto."},
        {{"XInput2"}, "Tu servidor X no ofrece XInput2: Vozmo no oye la tecla de dictado."},
        {{"XTEST", "XInput2"},
         "Tu servidor X no ofrece XTEST ni XInput2: Vozmo no oye la tecla ni pega."},
        {{"X11"}, "Tu sesión no es X11: Vozmo no oye la tecla ni puede pegar."},
    };
    for (const auto& c : cases) {
        desktop.missingKeyAccess = c.missing;
        setup->refresh();
        EXPECT_EQ(row("accessRow").detail.toStdString(), c.detail);
    }

    // No sound server at all: its settings cannot help, the help says what to install.
    desktop.soundServer = false;
    setup->refresh();
    RowView mic = row("micRow");
    EXPECT_EQ(mic.detail, "No hay ningún servidor de sonido en marcha. Instala PipeWire o "
                          "PulseAudio.");
    EXPECT_EQ(mic.buttons, QStringList{"Ver ayuda"});
    button("micHelpButton")->click();
    EXPECT_EQ(desktop.microphoneHelpShown, 1);
    EXPECT_EQ(desktop.soundSettingsOpened, 0);
}

// On Wayland the row is about the key and the paste, and says in this desktop's words what to
// do, every word of it in sight.
TEST_F(SetupWindowTest, OnWaylandTheRowTellsWhatToDoOnThisDesktop) {
    const struct {
        const char* desktop;
        bool keys;
        bool typing;
        const char* detail;
    } cases[] = {
        {"sway", false, true,
         "Añade estas dos líneas a ~/.config/sway/config y recarga la configuración:\n"
         "bindsym --no-repeat Alt_R exec vozmo --key press\n"
         "bindsym --release Alt_R exec vozmo --key release"},
        {"hyprland", false, true,
         "Añade estas dos líneas a ~/.config/hypr/hyprland.conf y recarga la configuración:\n"
         "bind = , Alt_R, exec, vozmo --key press\n"
         "bindr = , Alt_R, exec, vozmo --key release"},
        {"gnome", false, true,
         "En Configuración › Teclado › Ver y personalizar atajos › Atajos personalizados, añade "
         "uno con esta orden y asígnale una tecla (pulsa una vez para empezar y otra para "
         "terminar):\n/usr/bin/vozmo --key toggle"},
        {"kde", false, true,
         "En Preferencias del sistema › Atajos › Atajos personalizados, añade una orden nueva "
         "«vozmo --key toggle» y asígnale una tecla."},
        {"sway", true, false,
         "Este escritorio no deja escribir en otras ventanas: el texto quedará copiado y lo "
         "pegas tú con Ctrl+V."},
        {"sway", true, true, "Tu escritorio envía la tecla a Vozmo y le deja pegar el texto."},
    };
    desktop.keyAndPasteInstructions.emplace();
    desktop.keyAccess = false;
    makeSetup();
    // GNOME's shortcut names the command the user runs, not the program it starts.
    setenv("VOZMO_LAUNCHER", "/usr/bin/vozmo", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + (c.keys ? " with" : " without") + " the key," +
                     (c.typing ? " with" : " without") + " typing");
        DesktopBackends backends;
        backends.session.type = SessionType::wayland;
        backends.session.desktop = c.desktop;
        backends.keys.chosen = c.keys ? kKeysCommand : "";
        backends.typing.chosen = c.typing ? kTypingVirtualKeyboard : "";
        *desktop.keyAndPasteInstructions = waylandInstructions(backends);
        desktop.keyAccess = c.keys && c.typing;
        setup->refresh();
        QCoreApplication::processEvents();
        RowView access = row("accessRow");
        EXPECT_EQ(access.title, "Tecla y pegado");
        EXPECT_EQ(access.detail.toStdString(), c.detail);
        EXPECT_EQ(access.check, desktop.keyAccess);
        EXPECT_EQ(access.buttons, desktop.keyAccess ? QStringList{} : QStringList{"Ver ayuda"});
        auto* detail = window().findChild<QFrame*>("accessRow")->findChild<QLabel*>("detail");
        EXPECT_LE(detail->heightForWidth(detail->width()), detail->height());
    }
    unsetenv("VOZMO_LAUNCHER");
}

// The window keeps one size and every row its height through every state, and no row's text
// is cut off.
TEST_F(SetupWindowTest, TheWindowKeepsItsSizeAndShowsEveryWordInEveryState) {
    makeSetup("/missing");
    setup->fnWatchSeconds = 0.3;
    const QSize size = window().size();
    std::map<QString, int> heights;
    for (auto* frame : window().findChildren<QFrame*>()) {
        if (frame->objectName().endsWith("Row")) {
            heights[frame->objectName()] = frame->height();
        }
    }
    ASSERT_EQ(heights.size(), 4u);
    auto check = [&](const char* state) {
        QCoreApplication::processEvents();
        EXPECT_EQ(window().size(), size) << state;
        for (const auto& [name, height] : heights) {
            auto* frame = window().findChild<QFrame*>(name);
            EXPECT_EQ(frame->height(), height) << state << " " << name.toStdString();
            auto* detail = frame->findChild<QLabel*>("detail");
            EXPECT_LE(detail->heightForWidth(detail->width()), detail->height())
                << state << ": " << detail->text().toStdString();
        }
    };
    check("first launch");
    button("downloadButton")->click();
    ASSERT_TRUE(test::waitUntil([&] { return setup->downloadFailed(); }));
    check("download failed");
    desktop.missingKeyAccess = {"XTEST", "XInput2"};
    desktop.soundServer = false;
    setup->refresh();
    check("no sound server, no key access");
    button("fnButton")->click();
    check("watching for Fn");
    ASSERT_TRUE(
        test::waitUntil([&] { return setup->fnCheck() == vozmo::Setup::FnCheck::NotSeen; }));
    check("Fn not seen");
    // Models copied in by hand: noticed without a click on "Reintentar".
    desktop.programs = {};
    writeModels();
    ASSERT_TRUE(test::waitUntil([&] { return setup->modelsOK(); }, 20s));
    check("server programs missing");
    desktop.programs = {"whisper-server", "llama-server"};
    desktop.micStatus = 3;
    desktop.keyAccess = true;
    setup->refresh();
    button("rightAltButton")->click();
    check("ready");
    EXPECT_TRUE(start()->isEnabled());
}

TEST_F(SetupWindowTest, RightAltChosenBeforeShowsTheFnRowDone) {
    Prefs::setHotkey("ropt");
    makeSetup();
    EXPECT_TRUE(row("fnRow").check);
    EXPECT_TRUE(row("fnRow").buttons.isEmpty());
}

TEST_F(SetupWindowTest, TheDictationKeyRowOffersTheKeyChoiceAndWarnsOfAltGr) {
    desktop.offersKeyChoice = true;
    desktop.altGr = true;
    Prefs::setHotkey("ropt");
    makeSetup();
    RowView fn = row("fnRow");
    EXPECT_FALSE(fn.check) << "the right Alt key never dictates where it is AltGr";
    EXPECT_EQ(fn.detail, "En tu distribución de teclado, Alt derecha es AltGr (con ella escribes "
                         "@ # €): elige otra tecla.");
    EXPECT_EQ(fn.buttons, QStringList{"Tecla de dictado…"});
    button("chooseKeyButton")->click();
    EXPECT_EQ(desktop.keyChoicesOpened, 1);

    Prefs::setHotkey("keys:Control_R");
    setup->refresh();
    ASSERT_TRUE(test::waitUntil([&] { return row("fnRow").check; }, 5s));
    EXPECT_EQ(row("fnRow").title, "Tecla de dictado: Ctrl derecha");
    EXPECT_EQ(row("fnRow").detail, "La elegiste pulsándola.");
}

TEST_F(SetupWindowTest, ShowSetupKeepsOneWindowShownAgainWithTheCurrentState) {
    makeSetup();
    SetupWindow* first = host->window();
    host->showSetup();
    EXPECT_EQ(host->window(), first);
    first->close();
    ASSERT_TRUE(test::waitUntil([&] { return !first->isVisible(); }));

    desktop.micStatus = 3; // granted while the window was hidden
    setup->refresh();
    host->showSetup();
    EXPECT_EQ(host->window(), first);
    EXPECT_TRUE(test::waitUntil([&] { return first->isVisible(); }));
    EXPECT_TRUE(row("micRow").check);
}

} // namespace
} // namespace vozmo

namespace vozmo {
namespace {

TEST(SetupHelp, KeyAccessOfTheTestDesktopsXServer) {
    // Xvfb offers XTEST and XInput 2; without a display there is no key access at all.
    EXPECT_TRUE(keyAccessAvailable());
    QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":9999");
    EXPECT_FALSE(keyAccessAvailable());
    qputenv("DISPLAY", display);
}

} // namespace
} // namespace vozmo
