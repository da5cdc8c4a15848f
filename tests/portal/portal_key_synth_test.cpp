#include "portal_fixture.h"

#include <QElapsedTimer>

#include "portal_key_synth.h"
#include "prefs.h"

namespace vozmo {
namespace {

using test::PortalTest;

class PortalKeySynthTest : public PortalTest {
protected:
    // A synth whose session has settled: ready, refused or failed.
    std::unique_ptr<PortalKeySynth> begun() {
        auto synth = std::make_unique<PortalKeySynth>(QDBusConnection::sessionBus());
        synth->begin();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !synth->waiting(); }, 5000));
        return synth;
    }
};

// The first start asks and keeps the token; the next one passes it and is not asked again.
TEST_F(PortalKeySynthTest, AsksOnceThenRestores) {
    startPortal();
    auto first = begun();
    ASSERT_TRUE(first->ready()) << first->problem();
    auto select = calls("SelectDevices");
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ(select[0]["interface"], "RemoteDesktop");
    EXPECT_EQ(select[0]["options"]["types"], 1);
    EXPECT_EQ(select[0]["options"]["persist_mode"], 2);
    EXPECT_FALSE(select[0]["options"].contains("restore_token"));
    auto start = calls("Start");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0]["asked"], true);
    const std::string token = start[0]["restore_token_given"];
    EXPECT_EQ(Prefs::remoteDesktopToken(), token);
    first.reset();

    auto second = begun();
    ASSERT_TRUE(second->ready()) << second->problem();
    select = calls("SelectDevices");
    ASSERT_EQ(select.size(), 2u);
    EXPECT_EQ(select[1]["options"]["restore_token"], token);
    start = calls("Start");
    ASSERT_EQ(start.size(), 2u);
    EXPECT_EQ(start[1]["asked"], false);
    // A token is good for one use: the new one replaces it.
    EXPECT_EQ(Prefs::remoteDesktopToken(), start[1]["restore_token_given"]);
    EXPECT_NE(Prefs::remoteDesktopToken(), token);
}

TEST_F(PortalKeySynthTest, SendsTheExactKeysymSequence) {
    struct Case {
        KeyStroke stroke;
        std::vector<std::pair<int, int>> keys; // keysym, state
    };
    const int ctrl = 0xffe3, shift = 0xffe1, v = 0x76;
    const std::vector<Case> cases{
        {{"v", true, false}, {{ctrl, 1}, {v, 1}, {v, 0}, {ctrl, 0}}},
        {{"v", true, true}, {{ctrl, 1}, {shift, 1}, {v, 1}, {v, 0}, {shift, 0}, {ctrl, 0}}},
        {{"Return", false, false}, {{0xff0d, 1}, {0xff0d, 0}}},
    };
    startPortal();
    auto synth = begun();
    ASSERT_TRUE(synth->ready()) << synth->problem();
    const std::string session = calls("Start")[0]["session_handle"];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stroke.key + (c.stroke.shift ? "+shift" : ""));
        const size_t before = calls("NotifyKeyboardKeysym").size();
        ASSERT_TRUE(synth->send(c.stroke)) << synth->problem();
        // Sent without waiting for the answers: they arrive in order.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return calls("NotifyKeyboardKeysym").size() >= before + c.keys.size(); }, 5000));
        const auto sent = calls("NotifyKeyboardKeysym");
        std::vector<std::pair<int, int>> keys;
        for (size_t i = before; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i]["session_handle"], session);
            keys.emplace_back(sent[i]["keysym"], sent[i]["state"]);
        }
        EXPECT_EQ(keys, c.keys);
    }
    EXPECT_FALSE(synth->send({"no-such-key", true, false}));
}

// Refused, closed by the desktop, or a forgotten token: the stroke is not reported as sent.
TEST_F(PortalKeySynthTest, RefusalAndLossAreReported) {
    startPortal({{"refuse", {"Start"}}});
    auto refused = begun();
    EXPECT_FALSE(refused->ready());
    EXPECT_NE(refused->problem().find("no permitió"), std::string::npos) << refused->problem();
    EXPECT_FALSE(refused->send({"v", true, false}));
    EXPECT_TRUE(calls("NotifyKeyboardKeysym").empty());
    EXPECT_EQ(Prefs::remoteDesktopToken(), "");
    // The portal closes the refused session; that is no reason to show the dialog again.
    QTest::qWait(3000);
    EXPECT_EQ(calls("CreateSession").size(), 1u);
    EXPECT_NE(refused->problem().find("no permitió"), std::string::npos) << refused->problem();
    refused.reset();

    configure({});
    auto synth = begun();
    ASSERT_TRUE(synth->ready());
    control(QStringLiteral("CloseSessions"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !synth->ready(); }, 5000));
    EXPECT_FALSE(synth->send({"v", true, false}));
    EXPECT_NE(synth->problem().find("cerró"), std::string::npos) << synth->problem();
    // The desktop closed it, the user did not refuse: a new session takes its place.
    ASSERT_TRUE(QTest::qWaitFor([&] { return synth->ready(); }, 8000)) << synth->problem();
    EXPECT_TRUE(synth->send({"v", true, false}));
    synth.reset();

    // The user revoked the permission: the portal asks again and a new token is kept.
    const std::string old = Prefs::remoteDesktopToken();
    configure({{"forget_tokens", true}});
    auto again = begun();
    ASSERT_TRUE(again->ready());
    EXPECT_EQ(calls("Start").back()["asked"], true);
    EXPECT_NE(Prefs::remoteDesktopToken(), old);
    EXPECT_NE(Prefs::remoteDesktopToken(), "");
}

// Version 1 (KDE Plasma 5.27, GNOME 43) types as well; it only has no restore tokens, so none
// is asked for or kept.
TEST_F(PortalKeySynthTest, VersionOneTypesWithoutRestoreTokens) {
    Prefs::setRemoteDesktopToken("restore-old");
    startPortal({{"versions", {{"RemoteDesktop", 1}}}});
    EXPECT_EQ(portalKeySynthProblem(), "");
    auto synth = begun();
    ASSERT_TRUE(synth->ready()) << synth->problem();
    const auto select = calls("SelectDevices");
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ(select[0]["options"]["types"], 1);
    EXPECT_FALSE(select[0]["options"].contains("persist_mode"));
    EXPECT_FALSE(select[0]["options"].contains("restore_token"));
    EXPECT_TRUE(synth->send({"v", true, false}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls("NotifyKeyboardKeysym").size() == 4u; }, 5000));
    EXPECT_FALSE(synth->lastStrokeFailed());
    EXPECT_EQ(Prefs::remoteDesktopToken(), "restore-old");
}

// While the portal's dialog is open nothing is sent; giving up closes the request.
TEST_F(PortalKeySynthTest, WhileTheUserDecides) {
    startPortal({{"hold", {"Start"}}});
    auto synth = std::make_unique<PortalKeySynth>(QDBusConnection::sessionBus());
    synth->begin();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !calls("Start").empty(); }, 5000));
    EXPECT_TRUE(synth->waiting());
    EXPECT_FALSE(synth->send({"v", true, false}));
    EXPECT_NE(synth->problem().find("esperando"), std::string::npos) << synth->problem();
    const std::string token = calls("Start")[0]["options"]["handle_token"];
    synth.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !calls("Request.Close").empty(); }, 5000));
    const std::string handle = calls("Request.Close")[0]["handle"];
    EXPECT_EQ(handle.substr(handle.rfind('/') + 1), token);
    EXPECT_TRUE(calls("NotifyKeyboardKeysym").empty());
}

// A portal that never answers the keys holds nothing: the stroke goes out at once, and its
// failure is known once the calls time out, so the paste leaves the text on the clipboard.
TEST_F(PortalKeySynthTest, AHungPortalHoldsNothingAndTheFailureIsKnownLater) {
    startPortal({{"hang", {"NotifyKeyboardKeysym"}}});
    auto synth = begun();
    ASSERT_TRUE(synth->ready()) << synth->problem();
    QElapsedTimer sending;
    sending.start();
    EXPECT_TRUE(synth->send({"v", true, false}));
    EXPECT_LT(sending.elapsed(), 500) << "the stroke waited for the portal";
    EXPECT_FALSE(synth->lastStrokeFailed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return synth->lastStrokeFailed(); }, 10000));
    EXPECT_NE(synth->problem().find("portal"), std::string::npos) << synth->problem();
    QTest::qWait(300); // the stroke's other calls time out together

    configure({});
    EXPECT_TRUE(synth->send({"v", true, false}));
    EXPECT_FALSE(synth->lastStrokeFailed());
}

TEST_F(PortalKeySynthTest, WithoutThePortal) {
    EXPECT_NE(portalKeySynthProblem(), "");
    PortalKeySynth synth(QDBusConnection::sessionBus());
    synth.begin();
    EXPECT_FALSE(synth.ready());
    EXPECT_FALSE(synth.send({"v", true, false}));
    EXPECT_NE(synth.problem(), "");
}

} // namespace
} // namespace vozmo
