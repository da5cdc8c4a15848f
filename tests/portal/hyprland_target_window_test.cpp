#include "hyprland_target_window.h"
#include "standin.h"
#include "temp_home.h"

#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <optional>

namespace vozmo {
namespace {

TEST(HyprlandAnswer, ReadsTheActiveWindow) {
    struct Case {
        std::string answer;
        std::optional<TargetApp> expected;
    };
    const std::vector<Case> cases{
        {R"({"address":"0x5a1b2c","class":"kitty","title":"~","pid":4242,"mapped":true})",
         TargetApp{4242, "kitty", 0x5a1b2c}},
        {R"({"class":"org.gnome.Terminal","pid":77})", TargetApp{77, "org.gnome.Terminal", 0}},
        // Wrong types are no information, not an error.
        {R"({"class":5,"pid":"77","address":"0xzz"})", std::nullopt},
        {R"({"class":"firefox","pid":-3,"address":7})", TargetApp{0, "firefox", 0}},
        {R"({"class":"x","pid":99999999999})", TargetApp{0, "x", 0}},
        {"{}", std::nullopt}, // no window has the focus
        {"[]", std::nullopt},
        {"", std::nullopt},
        {"unknown request", std::nullopt},
        {R"({"class":"kitty")", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(parseHyprlandActiveWindow(c.answer), c.expected);
    }
}

// The stand-in socket where the running compositor would have it.
class HyprlandSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        saveEnv("XDG_RUNTIME_DIR");
        saveEnv("HYPRLAND_INSTANCE_SIGNATURE");
        signature_ = "vozmotest_" + std::to_string(::getpid());
        ::setenv("HYPRLAND_INSTANCE_SIGNATURE", signature_.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        if (compositor_) {
            compositor_->stop();
        }
        std::filesystem::remove_all(std::filesystem::path("/tmp/hypr") / signature_);
        std::error_code ignored;
        std::filesystem::remove("/tmp/hypr", ignored); // only when empty
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void saveEnv(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    void startCompositor(const std::filesystem::path& base, const nlohmann::json& behaviour) {
        const auto dir = base / "hypr" / signature_;
        std::filesystem::create_directories(dir);
        socket_ = dir / ".socket.sock";
        configure(behaviour);
        compositor_.emplace(std::vector<std::string>{HYPRLAND_STANDIN, socket_.string(),
                                                     behaviour_.string(), record_.string()},
                            std::map<std::string, std::string>{}, home_.path() / "hypr.out");
        ASSERT_TRUE(compositor_->started());
        // "ready" comes once it listens; the socket file exists a moment earlier.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return test::readFile(home_.path() / "hypr.out").find("ready") == 0; }, 10000));
    }
    void configure(const nlohmann::json& behaviour) const {
        test::writeFile(behaviour_, behaviour.dump());
    }

    test::TempHome home_;
    std::filesystem::path runtime_ = home_.path() / "run";
    std::filesystem::path behaviour_ = home_.path() / "hypr.json";
    std::filesystem::path record_ = home_.path() / "hypr.requests";
    std::filesystem::path socket_;
    std::string signature_;
    std::optional<test::ChildProcess> compositor_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(HyprlandSocketTest, AsksTheCompositorForTheActiveWindow) {
    startCompositor(runtime_, {{"answer", R"({"class":"foot","pid":321,"address":"0xbeef"})"}});
    EXPECT_EQ(hyprlandProblem(), "");
    EXPECT_EQ(hyprlandSocket(), socket_);
    HyprlandTargetWindow target;
    EXPECT_EQ(target.focused(), (TargetApp{321, "foot", 0xbeef}));
    EXPECT_EQ(test::readFile(record_), "j/activewindow\n");

    // A compositor that never answers costs a moment, not a hang.
    configure({{"hang", true}});
    EXPECT_EQ(target.focused(), std::nullopt);
}

// Versions before 0.40 keep the socket under /tmp/hypr.
TEST_F(HyprlandSocketTest, FindsTheOlderSocketPlace) {
    startCompositor("/tmp", {{"answer", R"({"class":"kitty","pid":12})"}});
    EXPECT_EQ(hyprlandSocket(), socket_);
    EXPECT_EQ(HyprlandTargetWindow().focused(), (TargetApp{12, "kitty", 0}));
}

TEST_F(HyprlandSocketTest, SaysWhyNot) {
    EXPECT_NE(hyprlandProblem().find(".socket.sock"), std::string::npos) << hyprlandProblem();
    EXPECT_EQ(HyprlandTargetWindow().focused(), std::nullopt);
    ::unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    EXPECT_NE(hyprlandProblem().find("HYPRLAND_INSTANCE_SIGNATURE"), std::string::npos);
}

} // namespace
} // namespace vozmo
