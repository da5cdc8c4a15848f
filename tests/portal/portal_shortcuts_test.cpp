#include "hotkey.h"
#include "portal_fixture.h"
#include "portal_shortcuts.h"
#include "prefs.h"

namespace vozmo {
namespace {

using test::PortalTest;

class PortalShortcutsTest : public PortalTest {
protected:
    // A started key source whose events land in events_.
    std::unique_ptr<PortalShortcuts> startShortcuts() {
        auto shortcuts = std::make_unique<PortalShortcuts>(QDBusConnection::sessionBus());
        EXPECT_TRUE(shortcuts->start([this](const KeyEvent& event) { events_.push_back(event); }));
        return shortcuts;
    }
    bool waitForEvents(size_t count) {
        return QTest::qWaitFor([&] { return events_.size() >= count; }, 5000);
    }

    std::vector<KeyEvent> events_;
};

using Events = std::vector<std::pair<Key, bool>>;

Events pairs(const std::vector<KeyEvent>& events) {
    Events out;
    for (const KeyEvent& event : events) {
        out.emplace_back(event.key, event.pressed);
    }
    return out;
}

// The shortcuts go to CreateSession (where KDE Plasma 5.27 takes them) and to BindShortcuts;
// the dictation key suggests F8, the cancel shortcut no key at all, so that nothing an
// application uses (Escape) is taken from it.
TEST_F(PortalShortcutsTest, PassesTheShortcutsAtCreationAndWhenBinding) {
    const nlohmann::json expected = nlohmann::json::array(
        {{"dictar",
          {{"description", "Dictar (mantener pulsada para hablar)"}, {"preferred_trigger", "F8"}}},
         {"cancelar", {{"description", "Cancelar el dictado"}}}});
    for (bool kde : {false, true}) {
        SCOPED_TRACE(kde ? "as KDE Plasma 5.27" : "as the portal documents it");
        startPortal({{"kde_shortcuts", kde}});
        Prefs::setHotkey("fn");
        auto shortcuts = startShortcuts();
        ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts->bound(); }, 5000))
            << shortcuts->problem();
        EXPECT_EQ(shortcuts->problem(), "");
        EXPECT_EQ(shortcuts->trigger(), "F8");
        EXPECT_EQ(shortcuts->keyName(), "F8");
        EXPECT_EQ(shortcuts->cancelTrigger(), "");

        const auto created = calls("CreateSession");
        ASSERT_EQ(created.size(), 1u);
        EXPECT_EQ(created[0]["interface"], "GlobalShortcuts");
        EXPECT_TRUE(created[0]["options"]["session_handle_token"].is_string());
        EXPECT_EQ(created[0]["options"]["shortcuts"], expected);
        const auto bind = calls("BindShortcuts");
        ASSERT_EQ(bind.size(), 1u);
        EXPECT_EQ(bind[0]["shortcuts"], expected);
        EXPECT_EQ(bind[0]["parent_window"], "");
        EXPECT_NE(bind[0]["session_handle"].get<std::string>().find(
                      created[0]["options"]["session_handle_token"].get<std::string>()),
                  std::string::npos);
        shortcuts.reset();
        stopPortal();
        std::filesystem::remove(record_);
    }
}

// A binding that names no key for the dictation shortcut (nothing assigned, or the desktop
// ignored it) is no success: the user is told to assign one, and nothing claims the key works.
TEST_F(PortalShortcutsTest, AnAnswerWithoutAKeyIsNoSuccess) {
    startPortal({{"no_triggers", true}});
    auto shortcuts = startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shortcuts->problem().empty(); }, 5000));
    EXPECT_FALSE(shortcuts->bound());
    EXPECT_EQ(shortcuts->trigger(), "");
    EXPECT_NE(shortcuts->problem().find("asígnala"), std::string::npos) << shortcuts->problem();
    EXPECT_EQ(calls("ListShortcuts").size(), 1u) << "the list is asked before giving up";
}

// Activated is the key going down, Deactivated the key going up, for the key the preference names.
TEST_F(PortalShortcutsTest, SignalsBecomePressesAndReleases) {
    startPortal();
    Prefs::setHotkey("ropt");
    auto shortcuts = startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts->bound(); }, 5000));

    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    control(QStringLiteral("Deactivate"), QStringLiteral("dictar"));
    control(QStringLiteral("Activate"), QStringLiteral("cancelar"));
    control(QStringLiteral("Deactivate"), QStringLiteral("cancelar"));
    ASSERT_TRUE(waitForEvents(4));
    Prefs::setHotkey("fn");
    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    ASSERT_TRUE(waitForEvents(5));
    const Events expected{{Key::rightAlt, true},
                          {Key::rightAlt, false},
                          {Key::escape, true},
                          {Key::escape, false},
                          {Key::fn, true}};
    EXPECT_EQ(pairs(events_), expected);
}

// Through the dictation-key logic itself: a hold is a down and an up, Escape cancels.
TEST_F(PortalShortcutsTest, DrivesTheDictationKey) {
    startPortal();
    Prefs::setHotkey("fn");
    PortalShortcuts* source = nullptr;
    Hotkey hotkey([&] {
        auto shortcuts = std::make_unique<PortalShortcuts>(QDBusConnection::sessionBus());
        source = shortcuts.get();
        return shortcuts;
    });
    std::vector<std::string> seen;
    hotkey.onDown = [&] { seen.push_back("down"); };
    hotkey.onUp = [&] { seen.push_back("up"); };
    hotkey.onEscape = [&] { seen.push_back("escape"); };
    ASSERT_TRUE(hotkey.install());
    ASSERT_TRUE(QTest::qWaitFor([&] { return source->bound(); }, 5000));

    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return hotkey.isDown; }, 5000));
    control(QStringLiteral("Deactivate"), QStringLiteral("dictar"));
    control(QStringLiteral("Activate"), QStringLiteral("cancelar"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 3; }, 5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"down", "up", "escape"}));
    EXPECT_FALSE(hotkey.isDown);
}

// While a key is held the desktop repeats Activated: the handler sees one press, one release.
TEST_F(PortalShortcutsTest, RepeatedActivationsWhileHeldAreOnePress) {
    startPortal();
    Prefs::setHotkey("fn");
    auto shortcuts = startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts->bound(); }, 5000));
    for (int i = 0; i < 5; ++i) {
        control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    }
    control(QStringLiteral("Deactivate"), QStringLiteral("dictar"));
    control(QStringLiteral("Activate"), QStringLiteral("cancelar"));
    control(QStringLiteral("Activate"), QStringLiteral("cancelar"));
    control(QStringLiteral("Deactivate"), QStringLiteral("cancelar"));
    ASSERT_TRUE(waitForEvents(4));
    QTest::qWait(200);
    EXPECT_EQ(
        pairs(events_),
        (Events{{Key::fn, true}, {Key::fn, false}, {Key::escape, true}, {Key::escape, false}}));
}

// A session the desktop closes sends no Deactivated: the held key is let go all the same, and
// a new session takes the closed one's place.
TEST_F(PortalShortcutsTest, AClosedSessionReleasesAHeldKey) {
    startPortal();
    Prefs::setHotkey("fn");
    auto shortcuts = startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts->bound(); }, 5000));
    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    ASSERT_TRUE(waitForEvents(1));
    control(QStringLiteral("CloseSessions"));
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(pairs(events_), (Events{{Key::fn, true}, {Key::fn, false}}));
    EXPECT_FALSE(shortcuts->bound());
    EXPECT_NE(shortcuts->problem(), "");

    ASSERT_TRUE(QTest::qWaitFor([&] { return shortcuts->bound(); }, 8000)) << shortcuts->problem();
    EXPECT_EQ(calls("CreateSession").size(), 2u);
    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(pairs(events_).back(), std::make_pair(Key::fn, true));
}

TEST_F(PortalShortcutsTest, RefusalAndAbsenceAreReported) {
    // No portal at all.
    EXPECT_NE(portalShortcutsProblem().find("no hay portal"), std::string::npos)
        << portalShortcutsProblem();
    {
        PortalShortcuts shortcuts(QDBusConnection::sessionBus());
        EXPECT_FALSE(shortcuts.start([](const KeyEvent&) {}));
        EXPECT_NE(shortcuts.problem(), "");
    }

    // A portal without the interface.
    startPortal({{"without", {"GlobalShortcuts"}}});
    EXPECT_NE(portalShortcutsProblem().find("GlobalShortcuts"), std::string::npos)
        << portalShortcutsProblem();
    stopPortal();

    // The user says no in the portal's dialog.
    startPortal({{"refuse", {"BindShortcuts"}}});
    EXPECT_EQ(portalShortcutsProblem(), "");
    auto shortcuts = startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shortcuts->problem().empty(); }, 5000));
    EXPECT_NE(shortcuts->problem().find("no aceptó"), std::string::npos) << shortcuts->problem();
    EXPECT_FALSE(shortcuts->bound());
    control(QStringLiteral("Activate"), QStringLiteral("dictar"));
    QTest::qWait(200);
    EXPECT_TRUE(events_.empty());
}

} // namespace
} // namespace vozmo
