// The second chance at past dictations, against the controller's fake parts: both versions
// kept, pasted again, and the polish undone only where it is safe.
#include "fake_dictation_parts.h"
#include "status_menu.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vozmo {
namespace {

using test::FakeDictationParts;

const KeyStroke kSelectLeft{"Left", false, true};

struct Fixture {
    test::TempHome home;
    FakeDictationParts fakes;
    std::unique_ptr<DictationController> controller =
        std::make_unique<DictationController>(fakes.parts());
    const TargetApp editor{4242, "Gedit", 77};

    // A dictation delivered to the editor, polished from `raw` into `text`.
    void dictated(const std::string& text, const std::string& raw) {
        fakes.targets.front = editor;
        controller->deliver(text, editor, raw);
    }
};

TEST(DictationHistory, KeepsBothVersionsOfTheLastFifteen) {
    Fixture f;
    for (int i = 1; i <= 17; ++i) {
        f.dictated("Dictado " + std::to_string(i) + ".", "dictado " + std::to_string(i));
    }
    const auto& entries = f.controller->dictations().entries();
    ASSERT_EQ(entries.size(), 15u);
    EXPECT_EQ(entries.front().text, "Dictado 17.");
    EXPECT_EQ(entries.front().raw, "dictado 17");
    EXPECT_EQ(entries.back().raw, "dictado 3");
    EXPECT_EQ(f.controller->history().front(), "Dictado 17.");

    // Unpolished, both versions are the same text and the menu offers it once.
    f.dictated("sin pulir", "");
    EXPECT_FALSE(entries.front().polished());
    EXPECT_FALSE(f.controller->canUndoPolish());
}

TEST(DictationHistory, TheMenuOffersEachVersion) {
    StatusMenuInputs in;
    in.history = {{"Hola, ¿qué tal?", "hola que tal"}, {"igual", "igual"}};
    in.canUndoPolish = true;
    const std::vector<MenuItem> items = describeStatusMenu(in);
    const auto titled = [](const std::vector<MenuItem>& list, const std::string& title) {
        for (const MenuItem& item : list) {
            if (item.title == title) {
                return item;
            }
        }
        ADD_FAILURE() << "no " << title;
        return MenuItem{};
    };
    EXPECT_EQ(titled(items, "Deshacer el pulido").action, MenuAction::undoPolish);
    const auto recent = titled(items, "Últimos dictados").children;
    ASSERT_EQ(recent.size(), 2u);
    const auto polished = recent[0].children;
    ASSERT_EQ(polished.size(), 5u);
    const std::vector<std::tuple<std::string, MenuAction, std::string>> expected = {
        {"Pegar de nuevo", MenuAction::pasteHistory, "Hola, ¿qué tal?"},
        {"Copiar", MenuAction::copyHistory, "Hola, ¿qué tal?"},
        {"", MenuAction::none, ""},
        {"Pegar sin pulir", MenuAction::pasteHistory, "hola que tal"},
        {"Copiar sin pulir", MenuAction::copyHistory, "hola que tal"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(polished[i].title, std::get<0>(expected[i]));
        EXPECT_EQ(polished[i].action, std::get<1>(expected[i]));
        EXPECT_EQ(polished[i].payload, std::get<2>(expected[i]));
    }
    EXPECT_EQ(recent[1].children.size(), 2u) << "one version: no \"sin pulir\" items";

    in.canUndoPolish = false;
    for (const MenuItem& item : describeStatusMenu(in)) {
        EXPECT_NE(item.title, "Deshacer el pulido");
    }
}

TEST(DictationHistory, UndoSelectsThePastedTextAndPastesTheTranscriptOverIt) {
    Fixture f;
    f.fakes.typist.leadingSpace = true;
    f.fakes.keys.typed = 10;
    // "¿" and "é" count once each, as the caret moves over them.
    f.dictated("¿Qué tal?", "que tal");
    ASSERT_EQ(f.fakes.typist.pasted, std::vector<std::string>{" ¿Qué tal?"});
    ASSERT_TRUE(f.controller->canUndoPolish());
    f.fakes.keys.typed = 11; // the paste's own V
    f.controller->undoPolish();

    EXPECT_EQ(f.fakes.typist.strokes, std::vector<KeyStroke>(10, kSelectLeft));
    EXPECT_EQ(f.fakes.typist.pasted, (std::vector<std::string>{" ¿Qué tal?", " que tal"}));
    EXPECT_TRUE(f.fakes.typist.copied.empty());
    EXPECT_EQ(f.fakes.hud.last(), "Pulido deshecho");
    EXPECT_FALSE(f.controller->canUndoPolish()) << "once";
}

TEST(DictationHistory, UndoRefusedCopiesTheTranscriptAndSaysWhy) {
    struct Case {
        const char* what;
        std::function<void(Fixture&)> change;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"focus moved",
         [](Fixture& f) {
             f.fakes.targets.front = TargetApp{99, "Firefox", 5};
         },
         "Otra ventana tiene el foco: sin pulir copiado, pega con Ctrl+V"},
        {"another window of the same application",
         [](Fixture& f) {
             f.fakes.targets.front = TargetApp{4242, "Gedit", 78};
         },
         "Otra ventana tiene el foco: sin pulir copiado, pega con Ctrl+V"},
        {"typed since", [](Fixture& f) { f.fakes.keys.typed = 3; },
         "Has escrito después de pegar: sin pulir copiado, pega con Ctrl+V"},
        {"keys not visible", [](Fixture& f) { f.fakes.keys.typed.reset(); },
         "No se puede saber si escribiste después: sin pulir copiado, pega con Ctrl+V"},
        {"selection not sent", [](Fixture& f) { f.fakes.typist.strokesFail = true; },
         "Sin pulir copiado, pega con Ctrl+V"},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.dictated("Hola, ¿qué tal?", "hola que tal");
        f.fakes.keys.typed = 1; // the paste's own stroke
        c.change(f);
        f.controller->undoPolish();
        EXPECT_EQ(f.fakes.typist.pasted.size(), 1u) << c.what;
        EXPECT_EQ(f.fakes.typist.copied, std::vector<std::string>{"hola que tal"}) << c.what;
        EXPECT_EQ(f.fakes.hud.last().toStdString(), c.said) << c.what;
    }

    Fixture terminal;
    const TargetApp term{7, "kitty", 3};
    terminal.fakes.targets.front = term;
    terminal.controller->deliver("Hola, ¿qué tal?", term, "hola que tal");
    terminal.controller->undoPolish();
    EXPECT_TRUE(terminal.fakes.typist.strokes.empty()) << "Ctrl+Z or Shift+Left in a terminal";
    EXPECT_EQ(terminal.fakes.typist.copied, std::vector<std::string>{"hola que tal"});
    EXPECT_EQ(terminal.fakes.hud.last().toStdString(),
              "En un terminal no se puede reemplazar: sin pulir copiado, pega con Ctrl+Mayús+V");
}

TEST(DictationHistory, PasteAgainGoesToTheFocusedWindowOrTheClipboard) {
    Fixture f;
    f.dictated("Hola.", "hola");
    f.fakes.targets.front = TargetApp{99, "Firefox", 5};
    f.controller->pasteAgain("hola");
    EXPECT_EQ(f.fakes.typist.pasted, (std::vector<std::string>{"Hola.", "hola"}));
    EXPECT_FALSE(f.controller->canUndoPolish()) << "a version pasted again is the user's choice";

    // Our own window (the setup window) or none: copied, and said.
    for (const std::optional<TargetApp>& front :
         {std::optional<TargetApp>(f.fakes.targets.self), std::optional<TargetApp>()}) {
        f.fakes.targets.front = front;
        f.controller->pasteAgain("Hola.");
        EXPECT_EQ(f.fakes.typist.pasted.size(), 2u);
        EXPECT_EQ(f.fakes.typist.copied.back(), "Hola.");
        EXPECT_EQ(f.fakes.hud.last(), "Copiado: pega con Ctrl+V");
    }
}

} // namespace
} // namespace vozmo
