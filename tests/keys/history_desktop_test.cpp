// The second chance in a real window: a GTK text view on the test desktop's X server, the
// paste through the real clipboard and XTEST, and the key monitor that sees what is typed.
#include "clipboard_x11.h"
#include "desktop_support.h"
#include "fake_dictation_parts.h"
#include "hotkey.h"
#include "key_synth_x11.h"
#include "paste.h"
#include "target_fixture.h"
#include "target_window_x11.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;
using test::targetText;

class XTypist final : public Typist {
public:
    bool trusted() override { return true; }
    bool needsLeadingSpace() override { return false; }
    Outcome paste(const std::string& text) override { return paster.paste(text); }
    void copy(const std::string& text) override { clipboard.setText(text); }
    bool sendKey(const KeyStroke& stroke) override { return keys.send(stroke); }

    X11Clipboard clipboard;
    X11KeySynth keys;
    X11TargetWindow windows;
    Paster paster{clipboard, keys, windows};
};

class XTargets final : public TargetFinder {
public:
    std::optional<TargetApp> focused() override { return windows.focused(); }
    TargetApp own() override { return TargetApp{::getpid(), "keys_tests", 0}; }
    X11TargetWindow windows;
};

class MonitoredKeys final : public KeySource {
public:
    bool dictationKeyHeld() const override { return hotkey.isDown; }
    std::optional<std::uint64_t> typedKeys() const override { return hotkey.typedKeys(); }
    Hotkey hotkey;
};

class HistoryDesktop : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(keys_.hotkey.install());
        target_ = test::startTarget();
        test::setTargetText(*target_, "Antes: ", 7);
    }

    // Waits for the key monitor to have seen `count` more typing keys than before.
    void waitForTyped(std::uint64_t before, std::uint64_t count) {
        EXPECT_TRUE(pumpUntil([&] { return *keys_.typedKeys() >= before + count; }, 10s));
    }

    // A polished dictation pasted into the window, as the pipeline delivers it.
    void dictate() {
        const std::uint64_t before = *keys_.typedKeys();
        controller_->deliver("Hola, ¿qué tal?", targets_.focused(), "hola que tal");
        ASSERT_TRUE(pumpUntil([&] { return targetText(*target_) == "Antes: Hola, ¿qué tal?"; }));
        waitForTyped(before, 1); // the paste's own V
        ASSERT_TRUE(controller_->canUndoPolish());
    }

    std::string text() { return targetText(*target_).value_or("(no answer)"); }

    test::TempHome home_;
    test::FakeDictationParts fakes_;
    XTypist typist_;
    XTargets targets_;
    MonitoredKeys keys_;
    std::unique_ptr<DictationController> controller_ = std::make_unique<DictationController>(
        DictationParts{fakes_.recorder, keys_, fakes_.speech, fakes_.polish, typist_, targets_,
                       fakes_.hud, fakes_.clock, nullptr, fakes_.main, fakes_.shell});
    std::unique_ptr<test::Child> target_;
};

TEST_F(HistoryDesktop, UndoThePolishThenPasteAgain) {
    dictate();
    controller_->undoPolish();
    EXPECT_TRUE(pumpUntil([&] { return text() == "Antes: hola que tal"; })) << text();
    EXPECT_EQ(fakes_.hud.last(), "Pulido deshecho");

    controller_->pasteAgain("Hola, ¿qué tal?");
    EXPECT_TRUE(pumpUntil([&] { return text() == "Antes: hola que talHola, ¿qué tal?"; }))
        << text();
}

TEST_F(HistoryDesktop, UndoRefusedAfterTyping) {
    dictate();
    // Past the paste's restore of the clipboard, so what is left there afterwards is ours.
    pumpFor(kRestoreLimit + 500ms);
    const std::uint64_t before = *keys_.typedKeys();
    ASSERT_TRUE(test::runCommand(QStringLiteral("xdotool"), {"type", "x"}));
    waitForTyped(before, 1);
    ASSERT_TRUE(pumpUntil([&] { return text() == "Antes: Hola, ¿qué tal?x"; }));

    controller_->undoPolish();
    pumpFor(500ms);
    EXPECT_EQ(text(), "Antes: Hola, ¿qué tal?x") << "the window is left alone";
    EXPECT_EQ(fakes_.hud.last().toStdString(),
              "Has escrito después de pegar: sin pulir copiado, pega con Ctrl+V");
    EXPECT_EQ(test::clipboardBytes("UTF8_STRING"), "hola que tal");
}

TEST_F(HistoryDesktop, UndoRefusedWhenTheFocusMoved) {
    dictate();
    pumpFor(kRestoreLimit + 500ms);
    const auto other = test::startTarget("VozmoOther");
    controller_->undoPolish();
    pumpFor(500ms);
    EXPECT_EQ(targetText(*other), "") << "nothing typed into the other window";
    EXPECT_EQ(text(), "Antes: Hola, ¿qué tal?");
    EXPECT_EQ(fakes_.hud.last().toStdString(),
              "Otra ventana tiene el foco: sin pulir copiado, pega con Ctrl+V");
    EXPECT_EQ(test::clipboardBytes("UTF8_STRING"), "hola que tal");
}

} // namespace
} // namespace vozmo
