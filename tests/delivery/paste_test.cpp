#include "paste.h"

#include "desktop_support.h"
#include "fake_clipboard.h"
#include "fake_key_synth.h"
#include "fake_target_window.h"
#include "target_fixture.h"
#include "wayland_backends.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace vozmo {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;

// Past the restore delay, with room for a slow machine, for checks that nothing was restored.
constexpr auto kAfterRestore = kRestoreDelay + 700ms;

TEST(TerminalClasses, RecognisesTerminalsByClassName) {
    struct Case {
        const char* appId;
        bool terminal;
    };
    const Case cases[] = {
        {"Gnome-terminal", true}, {"gnome-terminal", true}, {"konsole", true},
        {"Xfce4-terminal", true}, {"Tilix", true},          {"Terminator", true},
        {"kitty", true},          {"Alacritty", true},      {"org.wezfurlong.wezterm", true},
        {"foot", true},           {"XTerm", true},          {"URxvt", true},
        {"firefox", false},       {"Gedit", false},         {"", false},
        {"kitty2", false},        {"terminal", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isTerminal(c.appId), c.terminal) << c.appId;
    }
}

// Native Wayland terminals, as sway's or Hyprland's IPC names them.
TEST(TerminalClasses, RecognisesWaylandTerminalsByAppId) {
    struct Case {
        const char* appId;
        bool terminal;
    };
    const Case cases[] = {
        {"foot", true},
        {"footclient", true},
        {"kitty", true},
        {"Alacritty", true},
        {"org.gnome.Console", true},
        {"kgx", true},
        {"org.gnome.Terminal", true},
        {"org.kde.konsole", true},
        {"org.wezfurlong.wezterm", true},
        {"com.mitchellh.ghostty", true},
        {"org.gnome.Ptyxis", true},
        {"org.gnome.TextEditor", false},
        {"org.kde.kate", false},
        {"org.mozilla.firefox", false},
        {"org.gnome", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isTerminal(c.appId), c.terminal) << c.appId;
    }
}

TEST(PasteStroke, ControlVExceptInTerminals) {
    EXPECT_EQ(pasteStroke(std::nullopt), (KeyStroke{"v", true, false}));
    EXPECT_EQ(pasteStroke(TargetApp{42, "Gedit", 7}), (KeyStroke{"v", true, false}));
    EXPECT_EQ(pasteStroke(TargetApp{42, "Alacritty", 7}), (KeyStroke{"v", true, true}));
    // What the user is told to press matches the stroke a paste would send.
    EXPECT_EQ(pasteKeysName(std::nullopt), "Ctrl+V");
    EXPECT_EQ(pasteKeysName(TargetApp{42, "Gedit", 7}), "Ctrl+V");
    EXPECT_EQ(pasteKeysName(TargetApp{42, "Alacritty", 7}), "Ctrl+Mayús+V");
}

// The paste logic against recording fakes.
class PasterTest : public testing::Test {
protected:
    test::FakeClipboard clipboard;
    test::FakeKeySynth keys;
    test::FakeTargetWindow windows;
    const ClipboardSnapshot rich = {{"text/plain", "A"}, {"text/html", "<b>A</b>"}};

    bool waitForRestores(size_t count) {
        return pumpUntil([&] { return clipboard.restores.size() >= count; }, 5s);
    }
};

TEST_F(PasterTest, WritesTheTextPastesAndRestoresEveryFormatLater) {
    clipboard.content = rich;
    windows.front = TargetApp{42, "Gedit", 7};
    Paster paster(clipboard, keys, windows);
    paster.paste("hola");

    EXPECT_EQ(clipboard.textWrites, std::vector<std::string>{"hola"});
    EXPECT_EQ(keys.sent, (std::vector<KeyStroke>{{"v", true, false}}));
    EXPECT_TRUE(clipboard.restores.empty()) << "restored before the target could paste";
    ASSERT_TRUE(waitForRestores(1));
    EXPECT_EQ(clipboard.content, rich);
    pumpFor(300ms);
    EXPECT_EQ(clipboard.restores.size(), 1u);
}

TEST_F(PasterTest, TerminalGetsControlShiftV) {
    windows.front = TargetApp{42, "Gnome-terminal", 7};
    Paster paster(clipboard, keys, windows);
    paster.paste("ls");
    EXPECT_EQ(keys.sent, (std::vector<KeyStroke>{{"v", true, true}}));
}

TEST_F(PasterTest, LeavesTheTextWhenTheClipboardWasEmptyOrChangedMeanwhile) {
    {
        Paster paster(clipboard, keys, windows);
        paster.paste("hola");
        pumpFor(kAfterRestore);
        EXPECT_TRUE(clipboard.restores.empty());
        EXPECT_EQ(clipboard.content, (ClipboardSnapshot{{"text/plain", "hola"}}));
    }
    {
        clipboard.content = rich;
        Paster paster(clipboard, keys, windows);
        paster.paste("adiós");
        clipboard.copyFromElsewhere({{"text/plain", "otra copia"}});
        pumpFor(kAfterRestore);
        EXPECT_TRUE(clipboard.restores.empty());
        EXPECT_EQ(clipboard.content, (ClipboardSnapshot{{"text/plain", "otra copia"}}));
    }
}

// Putting the user's content back would leave the dictation nowhere.
TEST_F(PasterTest, AStrokeThatCannotBeSentLeavesTheTextOnTheClipboard) {
    clipboard.content = rich;
    keys.fails = true;
    Paster paster(clipboard, keys, windows);
    const Outcome pasted = paster.paste("hola");
    ASSERT_FALSE(pasted.ok());
    EXPECT_EQ(pasted.error().kind, Error::Kind::pasteFailed);
    pumpFor(kAfterRestore);
    EXPECT_TRUE(clipboard.restores.empty());
    EXPECT_EQ(clipboard.content, (ClipboardSnapshot{{"text/plain", "hola"}}));
}

// A stroke accepted but refused later by the desktop pasted nothing: the text stays too.
TEST_F(PasterTest, AStrokeRefusedAfterTheFactLeavesTheTextOnTheClipboard) {
    clipboard.content = rich;
    clipboard.read = false;
    Paster paster(clipboard, keys, windows);
    ASSERT_TRUE(paster.paste("hola").ok());
    keys.failedLater = true;
    pumpFor(kAfterRestore + 500ms);
    EXPECT_TRUE(clipboard.restores.empty());
    EXPECT_EQ(clipboard.content, (ClipboardSnapshot{{"text/plain", "hola"}}));
}

TEST_F(PasterTest, TwoQuickPastesGiveBackTheUsersContentOnce) {
    clipboard.content = rich;
    Paster paster(clipboard, keys, windows);
    paster.paste("uno");
    pumpFor(300ms);
    paster.paste("dos");
    ASSERT_TRUE(waitForRestores(1));
    pumpFor(kAfterRestore);
    ASSERT_EQ(clipboard.restores.size(), 1u);
    EXPECT_EQ(clipboard.content, rich);
    EXPECT_EQ(keys.sent.size(), 2u);
}

TEST_F(PasterTest, ACopyBetweenTwoPastesIsWhatComesBack) {
    clipboard.content = rich;
    Paster paster(clipboard, keys, windows);
    paster.paste("uno");
    const ClipboardSnapshot copied = {{"text/plain", "copiado"}};
    clipboard.copyFromElsewhere(copied);
    paster.paste("dos");
    ASSERT_TRUE(waitForRestores(1));
    pumpFor(kAfterRestore);
    ASSERT_EQ(clipboard.restores.size(), 1u);
    EXPECT_EQ(clipboard.content, copied);
}

// An application busy when the stroke arrives reads the text later: the user's content waits
// for that, and for no one that never reads.
TEST_F(PasterTest, TheUsersContentComesBackOnceTheTextIsRead) {
    clipboard.content = rich;
    clipboard.read = false;
    Paster paster(clipboard, keys, windows);
    paster.paste("hola");
    pumpFor(kAfterRestore);
    EXPECT_TRUE(clipboard.restores.empty()) << "restored before the application read the text";
    clipboard.read = true;
    ASSERT_TRUE(waitForRestores(1));
    EXPECT_EQ(clipboard.content, rich);

    clipboard.read = false;
    const auto sent = std::chrono::steady_clock::now();
    paster.paste("nadie lo lee");
    ASSERT_TRUE(pumpUntil([&] { return clipboard.restores.size() >= 2; }, kRestoreLimit + 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, kRestoreLimit);
    EXPECT_EQ(clipboard.content, rich);
}

TEST_F(PasterTest, NothingRunsOnceThePasterIsGone) {
    clipboard.content = rich;
    {
        Paster paster(clipboard, keys, windows);
        paster.paste("hola");
    }
    pumpFor(kAfterRestore);
    EXPECT_TRUE(clipboard.restores.empty());
}

// The real desktop: QClipboard, XFixes, XTEST and a GTK window.
class DesktopPaste : public testing::Test {
protected:
    void SetUp() override {
        // Start from an empty clipboard owned by nobody, and past any earlier restore.
        pumpFor(kAfterRestore);
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        target = test::startTarget(wmClass(), targetOptions());
        ASSERT_TRUE(target);
        test::setTargetText(*target, "", 0);
    }
    virtual std::string wmClass() const { return "VozmoTarget"; }
    virtual QStringList targetOptions() const { return {}; }

    // As the application pastes: through the desktop's one choice of clipboard and keys.
    Outcome paste(const std::string& text) { return paster.paste(text); }
    Desktop desktop{currentSession()};
    Paster paster{desktop.clipboard(), desktop.typing(), desktop.windows()};

    std::unique_ptr<test::Child> ownClipboard(const QStringList& formats) {
        auto owner = std::make_unique<test::Child>(VOZMO_CLIPBOARD_OWNER, formats);
        EXPECT_TRUE(owner->expect("ready"));
        // Our own copy of the ownership news may lag: wait until the owner serves it.
        EXPECT_TRUE(pumpUntil([&] { return test::clipboardTargets().has_value(); }));
        return owner;
    }

    bool targetShows(const std::string& text) {
        return pumpUntil([&] { return test::targetText(*target) == text; });
    }

    std::unique_ptr<test::Child> target;
};

TEST_F(DesktopPaste, TextArrivesAndEveryFormatComesBackByteForByte) {
    const std::string html = "<p>Hola <b>mundo</b> ñ €</p>";
    auto owner =
        ownClipboard({"text/plain=Hola mundo ñ €", QString::fromStdString("text/html=" + html)});

    paste("Texto dictado, sí.");
    EXPECT_TRUE(targetShows("Texto dictado, sí."));
    ASSERT_TRUE(pumpUntil(
        [] { return test::clipboardBytes("text/html") == "<p>Hola <b>mundo</b> ñ €</p>"; }, 5s))
        << test::clipboardTargets().value_or("(no targets)");
    EXPECT_EQ(test::clipboardBytes("text/plain"), "Hola mundo ñ €");
    EXPECT_EQ(test::clipboardBytes("UTF8_STRING"), "Hola mundo ñ €");
}

// Read ahead while the user speaks, off the main thread: the same formats come back.
TEST_F(DesktopPaste, ContentReadAheadComesBackByteForByte) {
    const std::string html = "<p>Leído <i>antes</i> ñ</p>";
    auto owner =
        ownClipboard({"text/plain=Leído antes ñ", QString::fromStdString("text/html=" + html)});
    paster.prepare();
    pumpFor(500ms);
    paste("dictado leído antes");
    EXPECT_TRUE(targetShows("dictado leído antes"));
    ASSERT_TRUE(pumpUntil([&] { return test::clipboardBytes("text/html") == html; }, 5s))
        << test::clipboardTargets().value_or("(no targets)");
    EXPECT_EQ(test::clipboardBytes("text/plain"), "Leído antes ñ");
}

TEST_F(DesktopPaste, AnEmptyClipboardKeepsTheDictatedText) {
    paste("se queda");
    EXPECT_TRUE(targetShows("se queda"));
    pumpFor(kAfterRestore);
    EXPECT_EQ(test::clipboardBytes("text/plain"), "se queda");
}

TEST_F(DesktopPaste, ACopyMadeMeanwhileIsKept) {
    auto owner = ownClipboard({"text/plain=antes"});
    paste("dictado");
    EXPECT_TRUE(targetShows("dictado"));
    auto other = ownClipboard({"text/plain=copia nueva"});
    pumpFor(kAfterRestore);
    EXPECT_EQ(test::clipboardBytes("text/plain"), "copia nueva");
}

TEST_F(DesktopPaste, TwoQuickPastesRestoreTheOriginalContent) {
    auto owner = ownClipboard({"text/plain=original", "text/html=<i>original</i>"});
    paste("uno ");
    EXPECT_TRUE(targetShows("uno "));
    paste("dos");
    EXPECT_TRUE(targetShows("uno dos"));
    ASSERT_TRUE(
        pumpUntil([] { return test::clipboardBytes("text/html") == "<i>original</i>"; }, 5s));
    EXPECT_EQ(test::clipboardBytes("text/plain"), "original");
}

namespace {
bool keyDown(const char* keysymName) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    char keys[32] = {};
    XQueryKeymap(display, keys);
    KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysymName));
    XCloseDisplay(display);
    return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
}
} // namespace

TEST_F(DesktopPaste, AHeldAltKeyStaysOutOfTheStrokeAndIsHeldAgainAfterIt) {
    ASSERT_TRUE(test::runCommand("xdotool", {"keydown", "Alt_L"}));
    paste("con alt");
    bool arrived = targetShows("con alt");
    bool stillHeld = keyDown("Alt_L");
    test::runCommand("xdotool", {"keyup", "Alt_L"});
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(stillHeld) << "the user's Alt key was not pressed again";
    EXPECT_NE(target->transcript().find("key v control\n"), std::string::npos)
        << target->transcript();
    EXPECT_EQ(target->transcript().find("key v control+alt"), std::string::npos);
}

class DesktopPasteTerminal : public DesktopPaste {
protected:
    std::string wmClass() const override { return "kitty"; }
};

TEST_F(DesktopPasteTerminal, TerminalGetsControlShiftV) {
    paste("ls -l");
    EXPECT_TRUE(target->expect("key V control+shift")) << target->transcript();
    EXPECT_EQ(target->transcript().find("key v control\n"), std::string::npos);
}

// An application that is busy when the stroke arrives asks for the clipboard only later, after
// the moment the user's content would have come back.
class DesktopPasteSlowTarget : public DesktopPaste {
protected:
    QStringList targetOptions() const override {
        return {"--paste-delay", QString::number(kAfterRestore.count() / 1000.0 + 1.0)};
    }
};

TEST_F(DesktopPasteSlowTarget, GetsTheDictationAndTheUserGetsTheirContentBack) {
    auto owner = ownClipboard({"text/plain=del usuario", "text/html=<b>del usuario</b>"});
    paste("dictado sin prisa");
    EXPECT_TRUE(targetShows("dictado sin prisa")) << test::targetText(*target).value_or("?");
    EXPECT_TRUE(
        pumpUntil([] { return test::clipboardBytes("text/html") == "<b>del usuario</b>"; }, 10s));
    EXPECT_EQ(test::clipboardBytes("text/plain"), "del usuario");
}

// A clipboard manager reads every new content at once, long before the busy application asks:
// that read is not the application's, and the user's content waits for the application. The
// manager asks with the time of the change it was told of, as Qt-based managers do.
TEST_F(DesktopPasteSlowTarget, AClipboardManagerReadingAtOnceChangesNothing) {
    auto owner = ownClipboard({"text/plain=secreto del usuario"});
    test::Child manager(VOZMO_CLIPBOARD_MANAGER, {});
    ASSERT_TRUE(manager.expect("ready"));
    paste("dictado con gestor");
    EXPECT_TRUE(manager.expect("read dictado con gestor"));
    EXPECT_TRUE(targetShows("dictado con gestor")) << test::targetText(*target).value_or("?");
    EXPECT_TRUE(
        pumpUntil([] { return test::clipboardBytes("text/plain") == "secreto del usuario"; }, 10s));
}

} // namespace
} // namespace vozmo
