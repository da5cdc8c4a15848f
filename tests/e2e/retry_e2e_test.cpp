// A long dictation whose speech server dies halfway, tried again from the tray menu once the
// server is back: the whole recording is pasted. The menu is reached as a user reaches it, through
// a tray host (a StatusNotifierWatcher stand-in on the session bus) that clicks the entry in the
// menu the application exports over D-Bus.
#include "harness.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <regex>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::AppHome;
using test::kDictationKey;
using test::StandinKind;
using test::waitUntil;

const std::string kListening = "Escuchando";
const std::string kTranscriptionError =
    "No se pudo transcribir: usa «Reintentar el último dictado» en el menú";
const std::string kRetry = "Reintentar el último dictado";

// The tray host, up before the application so that its icon goes to the host.
class TrayHost {
public:
    explicit TrayHost(const std::filesystem::path& folder)
        : output_(folder / "tray.out"),
          process_(std::vector<std::string>{VOZMO_TRAY_HOST}, {}, output_) {}

    bool ready() const {
        return waitUntil([&] { return shows("ready"); }, 10s);
    }
    bool itemRegistered() const {
        return waitUntil([&] { return shows("item "); }, 30s);
    }
    // Clicks the first menu entry whose label holds `label`; false when there is none enabled.
    bool click(const std::string& label) const {
        const auto reply = test::programOutput(
            {"gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher",
             "--object-path", "/org/vozmo/test", "--method", "org.vozmo.test.Tray.Click", label},
            20s);
        return reply && reply->find("true") != std::string::npos;
    }
    std::string output() const { return test::readFile(output_); }

private:
    bool shows(const std::string& text) const { return output().find(text) != std::string::npos; }
    std::filesystem::path output_;
    mutable test::ChildProcess process_;
};

class RetryE2e : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(desk_.connected()) << "no X display"; }
    void TearDown() override {
        desk_.key(kDictationKey, false);
        if (HasFailure() && app_) {
            std::cerr << "--- app.log ---\n"
                      << app_->log() << "--- panel ---\n"
                      << hud_->shownSince(0) << "\n--- tray ---\n"
                      << (tray_ ? tray_->output() : std::string()) << "\n";
        }
        hud_.reset();
        app_.reset();
        tray_.reset();
        target_.reset();
        home_.reset();
    }

    int exits() const {
        int count = 0;
        for (const auto& entry : standins_.records(StandinKind::Whisper)) {
            count += entry.value("event", "") == "exit" ? 1 : 0;
        }
        return count;
    }

    test::Desk desk_;
    test::StandinDir standins_;
    std::unique_ptr<AppHome> home_;
    std::unique_ptr<TrayHost> tray_;
    std::unique_ptr<test::Target> target_;
    std::unique_ptr<test::RunningApp> app_;
    std::unique_ptr<test::HudWatch> hud_;
};

// 100 s on a server as slow as the accurate model on 2 cores (26.1 s per full window), which
// dies while the dictation is transcribed; the supervisor starts it again, and "Reintentar el
// último dictado" sends the kept recording, which is pasted whole.
TEST_F(RetryE2e, ADictationLostWithItsServerIsPastedByTheMenusRetry) {
    standins_.configure(StandinKind::Whisper, {{"text", " Un dictado largo.\n"},
                                               {"window_seconds", 26.1},
                                               {"exit_during_request", 2},
                                               {"exit_signal", "KILL"}});
    home_ = std::make_unique<AppHome>(AppHome::Options{.polish = false});
    tray_ = std::make_unique<TrayHost>(home_->root());
    ASSERT_TRUE(tray_->ready()) << tray_->output();
    target_ = std::make_unique<test::Target>(desk_);
    ASSERT_TRUE(target_->ready());
    app_ = std::make_unique<test::RunningApp>(*home_, standins_);
    hud_ = std::make_unique<test::HudWatch>(desk_, app_->pid());
    ASSERT_TRUE(app_->waitForLog("whisper listo en", 0, 90s)) << app_->log();
    ASSERT_TRUE(tray_->itemRegistered()) << tray_->output();
    ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s));
    // Nothing to try again yet.
    EXPECT_FALSE(tray_->click(kRetry));

    const auto wav = test::toneWav(home_->root() / "long.wav", 100.0, 0.0);
    const auto from = hud_->mark();
    ASSERT_TRUE(desk_.key(kDictationKey, true));
    ASSERT_TRUE(hud_->waitFor(kListening, from)) << hud_->shownSince(from);
    ASSERT_TRUE(test::play(wav));
    ASSERT_TRUE(desk_.key(kDictationKey, false));

    // The server died on its second request, in the middle of the dictation.
    ASSERT_TRUE(waitUntil([&] { return exits() >= 1; }, 200s)) << hud_->shownSince(from);
    standins_.configure(StandinKind::Whisper,
                        {{"text", " Un dictado largo.\n"}, {"window_seconds", 26.1}});
    EXPECT_TRUE(hud_->waitFor(kTranscriptionError, from, 200s)) << hud_->shownSince(from);
    EXPECT_EQ(target_->text(), "");

    // Back, and ready again (perhaps before the dictation ended): the menu's retry sends the
    // kept recording.
    ASSERT_TRUE(waitUntil([&] { return app_->logLines("whisper listo en").size() >= 2; }, 120s))
        << app_->log();
    ASSERT_TRUE(waitUntil([&] { return desk_.activePid() == target_->pid(); }, 10s));
    ASSERT_TRUE(tray_->click(kRetry)) << tray_->output();
    ASSERT_TRUE(waitUntil([&] { return !target_->text().value_or("").empty(); }, 300s))
        << hud_->shownSince(from);
    const std::string text = target_->text().value_or("");
    // Every piece of the 100 s came back: four windows' worth at the least.
    const std::regex whole(R"(Un dictado largo\.( Un dictado largo\.){3,})");
    EXPECT_TRUE(std::regex_match(text, whole)) << text;
    EXPECT_EQ(exits(), 1);
}

} // namespace
} // namespace vozmo
