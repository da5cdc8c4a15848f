#include "setup.h"

#include "fake_setup_environment.h"
#include "model_files.h"
#include "model_server.h"
#include "prefs.h"
#include "temp_home.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

namespace fs = std::filesystem;

constexpr std::int64_t kSize = 2000000;

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("no_proxy", "127.0.0.1", 1); }

    // Small model files behind the local server, so a whole run takes a moment.
    std::unique_ptr<Downloader> downloader(const std::string& second = "/file/2000000") {
        return std::make_unique<Downloader>(std::vector<ModelSpec>{
            {"Whisper", server.url("/file/2000000"), config().whisperModelPath, kSize},
            {"IA de pulido", server.url(second), config().llmModelPath, kSize}});
    }

    std::unique_ptr<vozmo::Setup> make(std::unique_ptr<Downloader> d = nullptr) {
        d = d ? std::move(d) : downloader();
        d->trustedCertificates = server.certificate();
        auto setup = std::make_unique<vozmo::Setup>(desktop.environment(), std::move(d));
        QObject::connect(setup.get(), &vozmo::Setup::changed, [this] { ++changes; });
        return setup;
    }

    void writeModels() {
        test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
        test::writeFile(config().llmModelPath, std::string(kSize, 'l'));
    }

    test::TempHome home;
    test::ModelServer server;
    test::FakeDesktop desktop;
    int changes = 0;
};

TEST_F(SetupTest, ValuesAtCreation) {
    desktop.micStatus = 1;
    desktop.keyAccess = false;
    auto setup = make();
    EXPECT_FALSE(setup->modelsOK());
    EXPECT_FALSE(setup->downloading());
    EXPECT_EQ(setup->progress(), 0.0);
    EXPECT_EQ(setup->progressText(), "");
    EXPECT_FALSE(setup->downloadFailed());
    EXPECT_FALSE(setup->micOK());
    EXPECT_FALSE(setup->axOK());
    EXPECT_FALSE(setup->fnOK());
    EXPECT_TRUE(setup->whisperServerFound());
    EXPECT_FALSE(setup->ready());
}

TEST_F(SetupTest, FnStepAtCreation) {
    struct Case {
        const char* what;
        const char* hotkey; // nullptr: never set
        bool fnSeen;
        bool fnOK;
    };
    const Case cases[] = {
        {"fresh preferences", nullptr, false, false},
        {"Fn key chosen, never seen", "fn", false, false},
        {"right Alt chosen", "ropt", false, true},
        {"Fn key seen in an earlier run", "fn", true, true},
    };
    for (const auto& c : cases) {
        test::TempHome fresh;
        if (c.hotkey != nullptr) {
            Prefs::setHotkey(c.hotkey);
        }
        if (c.fnSeen) {
            Prefs::setBool("fnSeen", true);
        }
        EXPECT_EQ(make()->fnOK(), c.fnOK) << c.what;
    }
}

TEST_F(SetupTest, ReadyNeedsModelsSpeechServerMicrophoneAndKeyAccessButNotFn) {
    writeModels();
    struct Case {
        const char* what;
        int mic;
        bool keys;
        std::set<std::string> programs;
        bool ready;
    };
    const Case cases[] = {
        {"all there, Fn not configured", 3, true, {"whisper-server", "llama-server"}, true},
        {"without llama-server dictation still works", 3, true, {"whisper-server"}, true},
        {"without whisper-server nothing is transcribed", 3, true, {"llama-server"}, false},
        {"no microphone", 1, true, {"whisper-server", "llama-server"}, false},
        {"no XTEST or XInput2", 3, false, {"whisper-server", "llama-server"}, false},
    };
    for (const auto& c : cases) {
        desktop.micStatus = c.mic;
        desktop.keyAccess = c.keys;
        desktop.programs = c.programs;
        auto setup = make();
        EXPECT_FALSE(setup->fnOK());
        EXPECT_EQ(setup->ready(), c.ready) << c.what;
    }
}

TEST_F(SetupTest, RefreshFollowsTheDesktopWithinASecondAndOnlyNotifiesChanges) {
    writeModels();
    desktop.micStatus = 0;
    desktop.keyAccess = false;
    desktop.programs = {};
    auto setup = make();
    setup->refresh();
    EXPECT_EQ(changes, 0);

    desktop.keyAccess = true;
    desktop.micStatus = 3;
    desktop.programs = {"whisper-server"};
    // The timer picks it up by itself.
    EXPECT_TRUE(test::waitUntil([&] { return setup->ready(); }, 30s));
    EXPECT_TRUE(setup->axOK());
    EXPECT_TRUE(setup->micOK());
    EXPECT_TRUE(setup->whisperServerFound());
    EXPECT_FALSE(setup->llmServerFound());
    int settled = changes;
    setup->refresh();
    EXPECT_EQ(changes, settled);

    desktop.micStatus = 1; // the microphone went away
    EXPECT_TRUE(test::waitUntil([&] { return !setup->micOK(); }, 30s));
    EXPECT_FALSE(setup->ready());
}

TEST_F(SetupTest, RequestMicOpensTheSoundSettingsOnlyWhenNeeded) {
    desktop.micStatus = 1;
    auto setup = make();
    setup->requestMic();
    EXPECT_EQ(desktop.soundSettingsOpened, 1);
    EXPECT_FALSE(setup->micOK());
    EXPECT_FALSE(setup->soundSettingsMissing());

    desktop.soundSettingsInstalled = false;
    setup->requestMic();
    EXPECT_TRUE(setup->soundSettingsMissing());

    // The user picked a microphone: the next request sees it at once and opens nothing.
    desktop.micStatus = 3;
    setup->requestMic();
    EXPECT_TRUE(setup->micOK());
    EXPECT_EQ(desktop.soundSettingsOpened, 1);
}

TEST_F(SetupTest, OpenAccessibilityShowsTheHelpOnlyWithoutKeyAccess) {
    desktop.keyAccess = true;
    auto setup = make();
    setup->openKeyAndPasteHelp();
    EXPECT_EQ(desktop.permissionsHelpShown, 0);
    desktop.keyAccess = false;
    setup->openKeyAndPasteHelp();
    EXPECT_EQ(desktop.permissionsHelpShown, 1);
    EXPECT_TRUE(setup->axOK()); // assigned by the refresh only
    setup->openServersHelp();
    EXPECT_EQ(desktop.serversHelpShown, 1);
}

TEST_F(SetupTest, DownloadWithBothFilesPresentEndsAtOnce) {
    writeModels();
    auto setup = make();
    int ready = 0;
    setup->onModelsReady = [&] { ++ready; };
    std::vector<bool> downloadingSeen;
    QObject::connect(setup.get(), &vozmo::Setup::changed,
                     [&] { downloadingSeen.push_back(setup->downloading()); });
    setup->download();
    EXPECT_FALSE(setup->downloading());
    EXPECT_FALSE(setup->downloadFailed());
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_EQ(ready, 1);
    ASSERT_FALSE(downloadingSeen.empty());
    EXPECT_TRUE(downloadingSeen.front()); // it did go through "downloading"
}

TEST_F(SetupTest, DownloadRunCompletesTheModelsAndAnnouncesThem) {
    auto setup = make();
    int ready = 0;
    setup->onModelsReady = [&] { ++ready; };
    std::vector<std::string> texts;
    QObject::connect(setup.get(), &vozmo::Setup::changed, [&] {
        if (texts.empty() || texts.back() != setup->progressText()) {
            texts.push_back(setup->progressText());
        }
    });
    setup->download();
    EXPECT_TRUE(setup->downloading());
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_FALSE(setup->downloadFailed());
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(setup->progressText(), "IA de pulido (2/2): 2 de 2 MB");
    EXPECT_EQ(setup->progress(), 1.0);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Whisper (1/2)…"), texts.end());
}

TEST_F(SetupTest, DownloadFailingOnTheSecondFileKeepsTheFirst) {
    auto setup = make(downloader("/missing"));
    int ready = 0;
    setup->onModelsReady = [&] { ++ready; };
    setup->download();
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->downloadFailed());
    EXPECT_FALSE(setup->modelsOK());
    EXPECT_EQ(ready, 0);
    EXPECT_TRUE(fs::exists(config().whisperModelPath));

    // The retry clears the failure at once.
    setup->download();
    EXPECT_TRUE(setup->downloading());
    EXPECT_FALSE(setup->downloadFailed());
    EXPECT_EQ(setup->progress(), 0.0);
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->downloadFailed());
}

TEST_F(SetupTest, SwitchingAModelFetchesOnlyItsFileAndAnnouncesIt) {
    // The catalogue's choice, served by the local server: the fast files are smaller.
    auto choice = [this] {
        auto url = [this](ModelRole role, const char* fast, const char* accurate) {
            return server.url(chosenTier(role) == ModelTier::fast ? fast : accurate);
        };
        return std::vector<ModelSpec>{
            {"Whisper", url(ModelRole::speech, "/file/1500000", "/file/2000000"),
             config().whisperModelPath, 1000000},
            {"IA de pulido", url(ModelRole::polish, "/file/1200000", "/file/2000000"),
             config().llmModelPath, 1000000}};
    };
    chooseTier(ModelRole::speech, ModelTier::accurate);
    chooseTier(ModelRole::polish, ModelTier::accurate);
    auto setup = make(std::make_unique<Downloader>(choice));
    int ready = 0;
    setup->onModelsReady = [&] { ++ready; };
    setup->download();
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    ASSERT_TRUE(setup->modelsOK());
    EXPECT_EQ(ready, 1);

    setup->chooseModel(ModelRole::speech, ModelTier::fast);
    EXPECT_EQ(setup->modelTier(ModelRole::speech), ModelTier::fast);
    EXPECT_FALSE(setup->modelsOK());
    EXPECT_TRUE(setup->downloading()); // started by the choice itself
    // Until the new file is whole, the old one serves.
    EXPECT_EQ(fileSize(config().whisperModelPath), 2000000);
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_EQ(ready, 2);
    EXPECT_EQ(fileSize(config().whisperModelPath), 1500000);
    EXPECT_EQ(fileSize(config().llmModelPath), 2000000);
    EXPECT_EQ(test::lines(server.requests()),
              (std::vector<std::string>{"/file/2000000", "/file/2000000", "/file/1500000"}));

    // The choice outlives the run.
    auto again = make(std::make_unique<Downloader>(choice));
    EXPECT_EQ(again->modelTier(ModelRole::speech), ModelTier::fast);
    EXPECT_EQ(again->modelTier(ModelRole::polish), ModelTier::accurate);
    EXPECT_TRUE(again->modelsOK());
}

TEST_F(SetupTest, AChoiceChangedDuringADownloadIsFetchedAfterIt) {
    auto choice = [this] {
        return std::vector<ModelSpec>{
            {"Whisper",
             server.url(chosenTier(ModelRole::speech) == ModelTier::fast ? "/file/1500000"
                                                                         : "/slow/2000000"),
             config().whisperModelPath, 1000000}};
    };
    chooseTier(ModelRole::speech, ModelTier::accurate);
    auto setup = make(std::make_unique<Downloader>(choice));
    int ready = 0;
    setup->onModelsReady = [&] { ++ready; };
    setup->download();
    setup->chooseModel(ModelRole::speech, ModelTier::fast);
    ASSERT_TRUE(test::waitUntil([&] { return ready > 0; }));
    EXPECT_FALSE(setup->downloading());
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(fileSize(config().whisperModelPath), 1500000);
    EXPECT_EQ(modelSource(config().whisperModelPath), server.url("/file/1500000"));
}

TEST_F(SetupTest, FnKeySeenIsRememberedAcrossRuns) {
    auto setup = make();
    setup->configureFn();
    EXPECT_EQ(setup->fnCheck(), vozmo::Setup::FnCheck::Watching);
    EXPECT_EQ(desktop.watchesStarted, 1);
    setup->configureFn(); // a second press while watching changes nothing
    EXPECT_EQ(desktop.watchesStarted, 1);
    ASSERT_TRUE(desktop.fnWatcher);
    auto pressFn = desktop.fnWatcher;
    pressFn();
    EXPECT_TRUE(setup->fnOK());
    EXPECT_EQ(setup->fnCheck(), vozmo::Setup::FnCheck::Idle);
    EXPECT_EQ(desktop.watchesStopped, 1);
    EXPECT_EQ(Prefs::hotkey(), "fn");
    setup.reset();
    EXPECT_TRUE(make()->fnOK());
}

TEST_F(SetupTest, FnKeyNotSeenOffersTheRightAltKey) {
    auto setup = make();
    setup->fnWatchSeconds = 0.2;
    setup->configureFn();
    auto lateFn = desktop.fnWatcher;
    ASSERT_TRUE(
        test::waitUntil([&] { return setup->fnCheck() == vozmo::Setup::FnCheck::NotSeen; }));
    EXPECT_FALSE(setup->fnOK());
    EXPECT_EQ(desktop.watchesStopped, 1);
    lateFn(); // a call after the watch ended is ignored
    EXPECT_FALSE(setup->fnOK());
    EXPECT_FALSE(Prefs::boolForKey("fnSeen"));

    setup->useRightAlt();
    EXPECT_TRUE(setup->fnOK());
    EXPECT_EQ(Prefs::hotkey(), "ropt");
    EXPECT_EQ(setup->fnCheck(), vozmo::Setup::FnCheck::Idle);
}

TEST_F(SetupTest, WithoutAKeyMonitorTheFnCheckEndsUnseen) {
    desktop.supportsFnWatch = false;
    auto setup = make();
    setup->configureFn();
    EXPECT_EQ(setup->fnCheck(), vozmo::Setup::FnCheck::NotSeen);
}

TEST_F(SetupTest, ModelsCopiedInByHandCountOnceTheCopyIsComplete) {
    fs::create_directories(config().modelsDir);
    auto setup = make();
    int announced = 0;
    setup->onModelsReady = [&] { ++announced; };
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    test::writeFile(config().llmModelPath, std::string(kSize / 2, 'l')); // still being copied
    test::pumpFor(3s);
    EXPECT_FALSE(setup->modelsOK());
    EXPECT_EQ(announced, 0);
    test::writeFile(config().llmModelPath, std::string(kSize, 'l'));
    ASSERT_TRUE(test::waitUntil([&] { return setup->modelsOK(); }, 10s));
    EXPECT_EQ(announced, 1);
    EXPECT_TRUE(setup->ready());
    test::pumpFor(2s);
    EXPECT_EQ(announced, 1);
}

TEST_F(SetupTest, AFileThatIsNotTheExpectedOneIsSaidAndACopiedOneIsFlagged) {
    // The catalogue says another hash than the server's file has.
    const std::string wrong(64, 'a');
    auto setup = make(std::make_unique<Downloader>(std::vector<ModelSpec>{
        {"Whisper", server.url("/file/2000000"), config().whisperModelPath, kSize, wrong, kSize}}));
    setup->download();
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->downloadFailed());
    EXPECT_EQ(setup->downloadProblem(), "El archivo descargado no es el esperado");
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
    EXPECT_EQ(setup->modelWarning(), "");

    // The same file copied in by hand is read once, kept, used and flagged.
    int announced = 0;
    setup->onModelsReady = [&] { ++announced; };
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    ASSERT_TRUE(test::waitUntil([&] { return setup->modelsOK() && !setup->downloading(); }));
    EXPECT_EQ(announced, 1);
    EXPECT_FALSE(setup->downloadFailed());
    EXPECT_EQ(setup->downloadProblem(), "");
    EXPECT_EQ(setup->modelWarning(),
              "No es el archivo que se descarga: whisper.bin. Se usa igualmente.");
    EXPECT_TRUE(fs::exists(config().whisperModelPath));
}

TEST_F(SetupTest, FilesInPlaceAtStartAreReadOnceWithoutAnnouncingThem) {
    test::writeFile(config().whisperModelPath, std::string(kSize, 'w'));
    const std::string wrong(64, 'a');
    auto setup = make(std::make_unique<Downloader>(std::vector<ModelSpec>{
        {"Whisper", server.url("/file/2000000"), config().whisperModelPath, kSize, wrong, kSize}}));
    int announced = 0;
    setup->onModelsReady = [&] { ++announced; };
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_EQ(setup->modelWarning(), "");
    ASSERT_TRUE(test::waitUntil([&] { return !setup->modelWarning().empty(); }));
    ASSERT_TRUE(test::waitUntil([&] { return !setup->downloading(); }));
    EXPECT_TRUE(setup->modelsOK());
    EXPECT_EQ(announced, 0); // the servers were started with them already
    EXPECT_EQ(server.requests(), "");
}

TEST_F(SetupTest, DestroyedWhileWatchingAndDownloading) {
    auto setup = make(std::make_unique<Downloader>(std::vector<ModelSpec>{
        {"Whisper", server.url("/slow/100000000"), config().whisperModelPath, kSize}}));
    setup->configureFn();
    setup->download();
    auto lateFn = desktop.fnWatcher;
    setup.reset();
    EXPECT_EQ(desktop.watchesStopped, 1);
    lateFn(); // must not touch the destroyed Setup
    test::pumpFor(300ms);
    EXPECT_FALSE(fs::exists(config().whisperModelPath));
}

} // namespace
} // namespace vozmo
