// Choosing the dictation key on the test desktop's X server: XTEST keys and mouse buttons, as
// xdotool sends them, reach the capture and then the key monitor as a real keyboard's would.
#include "desktop_support.h"
#include "hotkey.h"
#include "key_chooser.h"
#include "key_events.h"
#include "prefs.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <optional>
#include <string>
#include <vector>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;
using test::runCommand;

// XTEST strokes by keycode and button, as a keyboard or mouse sends them (xdotool presses the
// modifier a modifier key is bound to as well: Control_L with Control_R). Commands in xdotool's
// words: "key", "keydown", "keyup" with a keysym; "click", "mousedown", "mouseup" with a button.
class XTest {
public:
    XTest() : display_(XOpenDisplay(nullptr)) {}
    ~XTest() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    XTest(const XTest&) = delete;
    XTest& operator=(const XTest&) = delete;

    bool operator()(const QStringList& command) {
        if (display_ == nullptr || command.size() < 2) {
            return false;
        }
        const QString& what = command[0];
        bool sent = true;
        for (qsizetype i = 1; i < command.size() && sent; ++i) {
            const QByteArray arg = command[i].toLatin1();
            if (what.startsWith("key")) {
                const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(arg.constData()));
                sent = code != 0;
                if (sent && what != "keyup") {
                    XTestFakeKeyEvent(display_, code, True, CurrentTime);
                }
                if (sent && what != "keydown") {
                    XTestFakeKeyEvent(display_, code, False, CurrentTime);
                }
            } else {
                const unsigned button = arg.toUInt(&sent);
                if (sent && what != "mouseup") {
                    XTestFakeButtonEvent(display_, button, True, CurrentTime);
                }
                if (sent && what != "mousedown") {
                    XTestFakeButtonEvent(display_, button, False, CurrentTime);
                }
            }
        }
        XSync(display_, False);
        return sent;
    }

private:
    Display* display_;
};

bool xdotool(const QStringList& command) {
    static XTest xtest;
    return xtest(command);
}

// Nothing stays held for the next test, whatever happened in this one.
void releaseEverything() {
    xdotool({"keyup", "Control_L", "Control_R", "Shift_L", "Shift_R", "Alt_L", "Alt_R",
             "ISO_Level3_Shift", "a", "2", "Pause", "Escape", "Return"});
    xdotool({"mouseup", "8", "9"});
}

class KeyCaptureDesktop : public testing::Test {
protected:
    void TearDown() override { releaseEverything(); }

    // What the capture makes of the xdotool commands run one after the other.
    std::optional<CapturedKey> capture(const std::vector<QStringList>& commands) {
        std::unique_ptr<KeyCapture> capture = makeKeyCapture();
        std::optional<CapturedKey> got;
        if (!capture->start([&](const CapturedKey& key) {
                if (!got) {
                    got = key;
                }
            })) {
            ADD_FAILURE() << "no capture on the test desktop";
            return std::nullopt;
        }
        for (const QStringList& command : commands) {
            EXPECT_TRUE(xdotool(command)) << command.join(' ').toStdString();
        }
        pumpUntil([&] { return got.has_value(); }, 10s);
        return got;
    }

    test::TempHome home_;
};

TEST_F(KeyCaptureDesktop, KeysButtonsAndCombinations) {
    struct Case {
        std::vector<QStringList> commands;
        std::vector<std::string> parts;
        std::string refusal; // a piece of the reason; "" for none
    };
    const std::vector<Case> cases = {
        {{{"key", "Control_R"}}, {"Control_R"}, ""},
        {{{"key", "Pause"}}, {"Pause"}, ""},
        {{{"click", "8"}}, {"Button8"}, ""},
        {{{"click", "9"}}, {"Button9"}, ""},
        // Held together, let go in any order; modifiers come first.
        {{{"keydown", "Pause"},
          {"keydown", "Control_L"},
          {"keyup", "Pause"},
          {"keyup", "Control_L"}},
         {"Control_L", "Pause"},
         ""},
        {{{"keydown", "Control_R"}, {"click", "8"}, {"keyup", "Control_R"}},
         {"Control_R", "Button8"},
         ""},
        // Shift takes part in typing, but a combination with it types nothing.
        {{{"keydown", "Shift_R"}, {"key", "Control_R"}, {"keyup", "Shift_R"}},
         {"Shift_R", "Control_R"},
         ""},
        {{{"key", "a"}}, {"a"}, "«a» escribe texto"},
        {{{"key", "5"}}, {"5"}, "«5» escribe texto"},
        {{{"key", "space"}}, {"space"}, "«Espacio» escribe texto"},
        {{{"key", "Return"}}, {"Return"}, "«Intro» escribe texto"},
        {{{"key", "KP_Enter"}}, {"KP_Enter"}, "escribe texto"},
        {{{"key", "Escape"}}, {"Escape"}, "Escape cancela"},
        {{{"key", "Shift_L"}}, {"Shift_L"}, "Mayús"},
        {{{"keydown", "Control_L"}, {"key", "a"}, {"keyup", "Control_L"}},
         {"Control_L", "a"},
         "«a» escribe texto"},
    };
    for (const Case& c : cases) {
        const std::optional<CapturedKey> got = capture(c.commands);
        ASSERT_TRUE(got) << "nothing captured for " << c.commands.front().join(' ').toStdString();
        EXPECT_EQ(got->parts, c.parts);
        if (c.refusal.empty()) {
            EXPECT_EQ(got->refusal, "");
        } else {
            EXPECT_NE(got->refusal.find(c.refusal), std::string::npos) << got->refusal;
        }
    }
}

TEST_F(KeyCaptureDesktop, WhatWasDownBeforeIsNotPartOfTheKey) {
    // The Enter that chose the menu item comes up after the capture began.
    ASSERT_TRUE(xdotool({"keydown", "Return"}));
    pumpFor(100ms);
    const auto got = capture({{"keyup", "Return"}, {"key", "Control_R"}});
    ASSERT_TRUE(got);
    EXPECT_EQ(got->parts, std::vector<std::string>{"Control_R"});
}

// The window as the menu opens it, with the key monitor of the running application.
class KeyChoiceDesktop : public testing::Test {
protected:
    KeyChoiceDesktop() : chooser_(chooserDesktop()) {
        chooser_.onWaiting = [this](bool waiting) { hotkey_.setPaused(waiting); };
        hotkey_.onDown = [this] { calls_ += 'D'; };
        hotkey_.onUp = [this] { calls_ += 'U'; };
        hotkey_.onOtherKey = [this] { calls_ += 'O'; };
        hotkey_.onEscape = [this] { calls_ += 'E'; };
    }
    void TearDown() override {
        chooser_.hide();
        releaseEverything();
    }

    static KeyChooser::Desktop chooserDesktop() {
        KeyChooser::Desktop desktop;
        desktop.makeCapture = [] { return makeKeyCapture(); };
        return desktop;
    }

    // Opens the window, sends the commands and waits for its answer.
    std::string choose(const std::vector<QStringList>& commands) {
        chooser_.start();
        EXPECT_TRUE(chooser_.isVisible());
        for (const QStringList& command : commands) {
            EXPECT_TRUE(xdotool(command));
        }
        pumpUntil([&] { return !chooser_.statusText().isEmpty(); }, 10s);
        return chooser_.statusText().toStdString();
    }

    // Presses Escape as a marker and waits for its callback: every event sent before it has
    // then been handled, so the calls seen are all there will be.
    std::string settle() {
        const std::size_t before = calls_.size();
        xdotool({"key", "Escape"});
        EXPECT_TRUE(pumpUntil([&] { return calls_.size() > before; }, 10s)) << "no marker";
        if (!calls_.empty() && calls_.back() == 'E') {
            calls_.pop_back();
        }
        return std::exchange(calls_, "");
    }

    test::TempHome home_;
    KeyChooser chooser_;
    Hotkey hotkey_;
    std::string calls_;
};

TEST_F(KeyChoiceDesktop, TheChosenKeyButtonOrCombinationStartsDictations) {
    Prefs::setHotkey(Prefs::kHotkeyFn);
    ASSERT_TRUE(hotkey_.install());

    EXPECT_EQ(choose({{"key", "Control_R"}}), "Tecla de dictado: Ctrl derecha.");
    EXPECT_EQ(Prefs::hotkey(), "keys:Control_R");
    EXPECT_EQ(Prefs::hotkeyName(), "Ctrl derecha");
    EXPECT_EQ(settle(), "") << "the key pressed to choose it started nothing";
    ASSERT_TRUE(xdotool({"keydown", "Control_R"}));
    ASSERT_TRUE(xdotool({"keyup", "Control_R"}));
    EXPECT_EQ(settle(), "DU");
    ASSERT_TRUE(xdotool({"key", "XF86WakeUp"}));
    EXPECT_EQ(settle(), "") << "Fn is no longer the key";

    EXPECT_EQ(choose({{"click", "9"}}), "Tecla de dictado: botón lateral delantero del ratón.");
    EXPECT_EQ(Prefs::hotkey(), "keys:Button9");
    ASSERT_TRUE(xdotool({"mousedown", "9"}));
    ASSERT_TRUE(xdotool({"key", "a"}));
    ASSERT_TRUE(xdotool({"mouseup", "9"}));
    EXPECT_EQ(settle(), "DOU") << "held, typing is another key";
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_EQ(settle(), "") << "other buttons mean nothing";

    EXPECT_EQ(choose({{"keydown", "Control_R"},
                      {"keydown", "Shift_R"},
                      {"keyup", "Shift_R"},
                      {"keyup", "Control_R"}}),
              "Tecla de dictado: Ctrl derecha + Mayús derecha.");
    EXPECT_EQ(Prefs::hotkey(), "keys:Control_R+Shift_R");
    ASSERT_TRUE(xdotool({"key", "Control_R"}));
    EXPECT_EQ(settle(), "") << "one key of the combination alone";
    ASSERT_TRUE(xdotool({"keydown", "Shift_R"}));
    ASSERT_TRUE(xdotool({"keydown", "Control_R"}));
    ASSERT_TRUE(xdotool({"keyup", "Shift_R"}));
    ASSERT_TRUE(xdotool({"keyup", "Control_R"}));
    EXPECT_EQ(settle(), "DU");
}

TEST_F(KeyChoiceDesktop, ARefusedKeyLeavesThePreviousOneWithTheReason) {
    Prefs::setHotkey("keys:Pause");
    ASSERT_TRUE(hotkey_.install());
    const std::string status = choose({{"key", "a"}});
    EXPECT_NE(status.find("«a» escribe texto"), std::string::npos) << status;
    EXPECT_NE(status.find("sigue siendo Pausa"), std::string::npos) << status;
    EXPECT_EQ(Prefs::hotkey(), "keys:Pause");
    // The README's picture, when asked for.
    if (const QString folder = qEnvironmentVariable("VOZMO_SCREENSHOT_DIR"); !folder.isEmpty()) {
        EXPECT_TRUE(chooser_.grab().save(folder + "/key-chooser.png"));
    }
    // Still waiting: the next key is taken.
    ASSERT_TRUE(xdotool({"key", "Menu"}));
    ASSERT_TRUE(pumpUntil([] { return Prefs::hotkey() == "keys:Menu"; }, 10s));
    EXPECT_EQ(chooser_.statusText().toStdString(), "Tecla de dictado: Menú.");
}

TEST_F(KeyChoiceDesktop, ClosedWithoutAKeyTheMonitorWorksAgain) {
    Prefs::setHotkey("keys:Pause");
    ASSERT_TRUE(hotkey_.install());
    chooser_.start();
    chooser_.hide();
    ASSERT_TRUE(xdotool({"key", "Menu"}));
    ASSERT_TRUE(xdotool({"key", "Pause"}));
    EXPECT_EQ(settle(), "DU");
    EXPECT_EQ(Prefs::hotkey(), "keys:Pause");
}

// The Spanish layout: the right Alt key is AltGr, and @ is AltGr+2.
class SpanishLayoutDesktop : public KeyChoiceDesktop {
protected:
    void SetUp() override {
        // The whole keymap, to put back exactly as the other tests expect it.
        saved_ = QString::fromStdString(home_.path().string()) + "/keymap.xkb";
        ASSERT_TRUE(runCommand(QStringLiteral("xkbcomp"),
                               {QString::fromLocal8Bit(qgetenv("DISPLAY")), saved_}));
        ASSERT_TRUE(runCommand(QStringLiteral("setxkbmap"), {"es"}));
        ASSERT_TRUE(rightAltIsAltGr());
    }
    void TearDown() override {
        KeyChoiceDesktop::TearDown();
        runCommand(QStringLiteral("xkbcomp"), {saved_, QString::fromLocal8Bit(qgetenv("DISPLAY"))});
    }

    void typeAt() {
        ASSERT_TRUE(xdotool({"keydown", "ISO_Level3_Shift"}));
        ASSERT_TRUE(xdotool({"key", "2"}));
        ASSERT_TRUE(xdotool({"keyup", "ISO_Level3_Shift"}));
    }

    QString saved_;
};

TEST_F(SpanishLayoutDesktop, TypingAnAtSignNeverRecords) {
    // The right Alt of the first versions, and the same key written by hand into prefs.json.
    for (const std::string stored : {Prefs::kHotkeyRightAlt, "keys:ISO_Level3_Shift"}) {
        Prefs::setHotkey(stored);
        ASSERT_TRUE(hotkey_.install());
        typeAt();
        EXPECT_EQ(settle(), "") << stored;
    }
}

TEST_F(SpanishLayoutDesktop, AltGrIsRefused) {
    Prefs::setHotkey(Prefs::kHotkeyFn);
    ASSERT_TRUE(hotkey_.install());
    const std::string status = choose({{"key", "ISO_Level3_Shift"}});
    EXPECT_NE(status.find("es AltGr"), std::string::npos) << status;
    EXPECT_EQ(Prefs::hotkey(), Prefs::kHotkeyFn);
}

} // namespace
} // namespace vozmo
