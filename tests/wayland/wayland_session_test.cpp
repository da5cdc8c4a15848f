#include "backend_choice.h"
#include "target_window_sway.h"
#include "wayland_session.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <map>

namespace vozmo {
namespace {

TEST(DetectSession, ChoosesFromTheEnvironmentAndTheSocket) {
    const struct {
        std::map<std::string, std::string> env;
        bool socketThere;
        SessionType type;
        std::string desktop;
    } cases[] = {
        {{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", "/run/u"}},
         true,
         SessionType::wayland,
         ""},
        // XWayland's DISPLAY beside a Wayland socket is still Wayland.
        {{{"WAYLAND_DISPLAY", "wayland-0"},
          {"XDG_RUNTIME_DIR", "/run/u"},
          {"DISPLAY", ":0"},
          {"XDG_CURRENT_DESKTOP", "GNOME:ubuntu"}},
         true,
         SessionType::wayland,
         "gnome"},
        // A stale WAYLAND_DISPLAY without its socket, or a relative name without a runtime
        // folder, is no Wayland session.
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/u"}, {"DISPLAY", ":0"}},
         false,
         SessionType::x11,
         ""},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":1"}}, true, SessionType::x11, ""},
        // A compositor nested in an X11 session.
        {{{"WAYLAND_DISPLAY", "wayland-0"},
          {"XDG_RUNTIME_DIR", "/run/u"},
          {"DISPLAY", ":0"},
          {"XDG_SESSION_TYPE", "x11"}},
         true,
         SessionType::x11,
         ""},
        {{{"XDG_SESSION_TYPE", "wayland"}}, false, SessionType::none, ""},
        {{{"WAYLAND_DISPLAY", "/abs/wl"}, {"XDG_CURRENT_DESKTOP", "sway"}},
         true,
         SessionType::wayland,
         "sway"},
    };
    for (const auto& c : cases) {
        const SessionInfo info = detectSession(
            [&](const char* name) {
                auto it = c.env.find(name);
                return it == c.env.end() ? std::string() : it->second;
            },
            [&](const std::string&) { return c.socketThere; });
        const std::string label = ::testing::PrintToString(c.env);
        EXPECT_EQ(info.type, c.type) << label;
        EXPECT_EQ(info.desktop, c.desktop) << label;
    }
}

TEST(ChooseBackend, TakesTheFirstThatWorksAndSaysWhyTheOthersDidNot) {
    int asked = 0;
    const BackendChoice choice = chooseBackend({
        {"portal", [] { return std::string("no ofrecido"); }},
        {"orden", [] { return std::string(); }},
        {"nunca",
         [&] {
             ++asked;
             return std::string();
         }},
    });
    EXPECT_EQ(choice.chosen, "orden");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(choice.describe("Tecla"), "Tecla: orden (descartados: portal: no ofrecido)");

    const BackendChoice none = chooseBackend({{"a", [] { return std::string("x"); }}, {"b", {}}});
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.describe("Escritura"), "Escritura: ninguno (a: x; b: no disponible)");
}

// A trimmed get_tree answer: a Wayland window and an XWayland window, one of them focused.
nlohmann::json tree(bool xwaylandFocused) {
    return nlohmann::json::parse(R"({"type": "root", "focused": false, "nodes": [
        {"type": "output", "focused": false, "nodes": [
          {"type": "workspace", "focused": false, "nodes": [
            {"type": "con", "focused": )" +
                                 std::string(xwaylandFocused ? "false" : "true") +
                                 R"(, "pid": 4242, "app_id": "org.gnome.TextEditor", "nodes": []}
          ], "floating_nodes": [
            {"type": "floating_con", "focused": )" +
                                 std::string(xwaylandFocused ? "true" : "false") +
                                 R"(, "pid": 77, "app_id": null, "window": 4194310,
             "window_properties": {"class": "XTerm", "instance": "xterm"}, "nodes": []}
          ]}]}]})");
}

TEST(SwayFocusedApp, ReadsTheFocusedNode) {
    EXPECT_EQ(swayFocusedApp(tree(false)), (TargetApp{4242, "org.gnome.TextEditor", 0}));
    // An XWayland window names its X11 class, as on X11, so terminals are still recognised.
    EXPECT_EQ(swayFocusedApp(tree(true)), (TargetApp{77, "XTerm", 4194310}));
}

TEST(SwayFocusedApp, NoApplicationWhenTheAnswerHasNone) {
    for (const char* answer : {
             R"({"type": "root", "nodes": []})",
             // The focus on an empty workspace.
             R"({"nodes": [{"type": "workspace", "focused": true, "nodes": []}]})",
             // Wrong types anywhere are no answer, never an exception.
             R"({"nodes": {"focused": true}})",
             R"({"nodes": [{"focused": "yes", "pid": 3}]})",
             R"({"nodes": [{"focused": true, "pid": "12", "app_id": 5}]})",
             R"([1, 2])",
         }) {
        EXPECT_EQ(swayFocusedApp(nlohmann::json::parse(answer)), std::nullopt) << answer;
    }
}

TEST(SwayRequest, NoSocketIsNoAnswer) {
    EXPECT_EQ(swayRequest("/nonexistent/sway-ipc.sock", kSwayGetTree), std::nullopt);
    EXPECT_EQ(swayRequest(std::string(200, 'x'), kSwayGetTree), std::nullopt);
    EXPECT_FALSE(swayBindsVozmoKey("/nonexistent/sway-ipc.sock"));
}

} // namespace
} // namespace vozmo
