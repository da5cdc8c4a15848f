#include "config.h"
#include "prefs.h"
#include "status_icon.h"
#include "status_menu.h"
#include "temp_home.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <functional>

namespace vozmo {
namespace {

using test::readFile;
using test::TempHome;
using test::writeFile;

// The titles of one level of the menu; "—" stands for a separator, "▸ " marks a submenu.
std::vector<std::string> titles(const std::vector<MenuItem>& items) {
    std::vector<std::string> out;
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::separator:
            out.push_back("—");
            break;
        case MenuItem::Kind::submenu:
            out.push_back("▸ " + item.title);
            break;
        case MenuItem::Kind::item:
            out.push_back(item.title);
            break;
        }
    }
    return out;
}

const MenuItem& find(const std::vector<MenuItem>& items, const std::string& title) {
    for (const MenuItem& item : items) {
        if (item.title == title) {
            return item;
        }
        for (const MenuItem& child : item.children) {
            if (child.title == title) {
                return child;
            }
        }
    }
    static const MenuItem missing = [] {
        MenuItem item;
        item.title = "(missing)";
        return item;
    }();
    ADD_FAILURE() << "no item " << title;
    return missing;
}

std::string repeat(const std::string& unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += unit;
    }
    return out;
}

TEST(StatusMenu, StatusLineFirstMatchWins) {
    const struct {
        Readiness servers;
        const char* line;
    } cases[] = {
        {{false, false, false, false, false, false, ""}, "Falta la configuración inicial"},
        {{false, true, true, true, false, false, ""}, "Falta la configuración inicial"},
        {{true, false, true, true, false, false, ""}, "Cargando Whisper…"},
        {{true, true, true, true, false, false, ""}, "Listo · Whisper + IA"},
        {{true, true, false, true, false, false, ""}, "Listo · Whisper + IA"},
        {{true, true, true, false, false, false, ""}, "Listo · cargando IA…"},
        {{true, true, false, false, false, false, ""}, "Listo · solo Whisper"},
        // A polish skipped as too slow: said while the language model is there.
        {{true, true, true, true, true, true, ""},
         "Listo · IA demasiado lenta en este equipo con este modelo: prueba el rápido"},
        {{true, true, true, true, true, false, ""}, "Listo · IA demasiado lenta en este equipo"},
        {{true, true, true, false, true, true, ""}, "Listo · cargando IA…"},
        {{true, false, true, true, true, true, ""}, "Cargando Whisper…"},
        {{true, false, true, false, false, false, "El puerto 8178 está ocupado por otro programa"},
         "El puerto 8178 está ocupado por otro programa"},
    };
    for (const auto& c : cases) {
        StatusMenuInputs in;
        in.servers = c.servers;
        EXPECT_EQ(describeStatusMenu(in).front().title, c.line);
        EXPECT_FALSE(describeStatusMenu(in).front().enabled);
    }
}

TEST(StatusMenu, FullLayoutWithTheAccessibilityWarningOnlyWhenSomethingCannotWork) {
    StatusMenuInputs in;
    in.servers = {true, true, true, true, false, false, ""};
    const std::vector<std::string> expected = {
        "Listo · Whisper + IA",
        "Mantén Fn para dictar · toque corto = manos libres",
        "—",
        "▸ Últimos dictados",
        "—",
        "Pulido con IA",
        "Transcripción rápida",
        "▸ Tecla",
        "▸ Idioma",
        "Sonidos",
        "Abrir al iniciar sesión",
        "—",
        "Configuración inicial…",
        "Editar diccionario…",
        "Tecla y pegado…",
        "Ver registros",
        "—",
        "Salir de Vozmo",
    };
    EXPECT_EQ(titles(describeStatusMenu(in)), expected);

    for (auto [keys, paste] : {std::pair{false, true}, {true, false}, {false, false}}) {
        in.keyMonitorOk = keys;
        in.pasteOk = paste;
        const auto items = describeStatusMenu(in);
        ASSERT_EQ(items.size(), expected.size() + 1);
        EXPECT_EQ(items[2].title, "\u26A0\uFE0E La tecla o el pegado no funcionan…");
        EXPECT_TRUE(items[2].enabled);
        EXPECT_EQ(items[2].action, MenuAction::openKeyAndPasteHelp);
        EXPECT_EQ(items[3].kind, MenuItem::Kind::separator);
    }

    // Only "Salir de Vozmo" has a key; the two header lines are greyed.
    const auto items = describeStatusMenu(in);
    for (const MenuItem& item : items) {
        EXPECT_EQ(item.shortcut, item.title == "Salir de Vozmo" ? "Ctrl+Q" : "") << item.title;
    }
    EXPECT_FALSE(items[1].enabled);
}

TEST(StatusMenu, ChecksFollowTheSettings) {
    StatusMenuInputs in;
    in.polish = false;
    in.sounds = true;
    in.loginItemEnabled = true;
    const struct {
        std::string hotkey, language;
        bool fn, ropt, es, autoDetect;
    } cases[] = {
        {"fn", "es", true, false, true, false},
        {"ropt", "auto", false, true, false, true},
        {"FN", "en", false, false, false, false},
    };
    for (const auto& c : cases) {
        in.hotkey = c.hotkey;
        in.language = c.language;
        const auto items = describeStatusMenu(in);
        EXPECT_EQ(find(items, "Fn").checked, c.fn) << c.hotkey;
        EXPECT_EQ(find(items, "Alt derecha").checked, c.ropt) << c.hotkey;
        EXPECT_EQ(find(items, "Español").checked, c.es) << c.language;
        EXPECT_EQ(find(items, "Detectar automáticamente").checked, c.autoDetect) << c.language;
        EXPECT_FALSE(find(items, "Pulido con IA").checked);
        EXPECT_TRUE(find(items, "Sonidos").checked);
        EXPECT_TRUE(find(items, "Abrir al iniciar sesión").checked);
        EXPECT_TRUE(find(items, "Pulido con IA").checkable);
        EXPECT_FALSE(find(items, "Ver registros").checkable);
    }
}

TEST(StatusMenu, HistoryIsListedOnOneLineAndShortenedByCharacters) {
    StatusMenuInputs in;
    {
        const auto recent = find(describeStatusMenu(in), "Últimos dictados").children;
        ASSERT_EQ(recent.size(), 1u);
        EXPECT_EQ(recent[0].title, "Vacío");
        EXPECT_FALSE(recent[0].enabled);
    }

    const std::string flag = "🇪🇸";          // two code points, one character
    const std::string accented = "e\u0301"; // e + combining acute, one character
    const struct {
        std::string entry, title;
    } cases[] = {
        {repeat("a", 60), repeat("a", 60)},
        {repeat("a", 61), repeat("a", 60) + "…"},
        {repeat(flag, 61), repeat(flag, 60) + "…"},
        {repeat(accented, 60), repeat(accented, 60)},
        {repeat("ñ", 59) + accented + "x", repeat("ñ", 59) + accented + "…"},
        {"- pan\n- leche\n- huevos", "- pan - leche - huevos"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(historyTitle(c.entry), c.title) << c.entry;
    }

    in.history = {{"- pan\n- leche", "- pan\n- leche"}, {repeat("b", 70), repeat("b", 70)}};
    const auto recent = find(describeStatusMenu(in), "Últimos dictados").children;
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].title, "- pan - leche");
    EXPECT_EQ(recent[0].kind, MenuItem::Kind::submenu);
    ASSERT_EQ(recent[0].children.size(), 2u);
    EXPECT_EQ(recent[0].children[1].title, "Copiar");
    EXPECT_EQ(recent[0].children[1].action, MenuAction::copyHistory);
    EXPECT_EQ(recent[0].children[1].payload, "- pan\n- leche");
    EXPECT_EQ(recent[1].children[0].action, MenuAction::pasteHistory);
    EXPECT_EQ(recent[1].children[0].payload, repeat("b", 70));
}

// The menu as the tray shows it, with a private home and recorded effects.
class StatusMenuActions : public ::testing::Test {
protected:
    StatusMenuActions() : menu(makeLoginItem(config().autostartFile, "/opt/Vozmo 1/vozmo")) {
        ensureSupport();
        menu.readiness = [] { return Readiness{true, true, false, false, false, false, ""}; };
        menu.history = [this] { return history; };
        menu.onFlash = [this](const HUDMode& mode, double seconds) {
            flashes.emplace_back(mode, seconds);
        };
        menu.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
    }

    MenuItem item(const std::string& title) {
        return find(describeStatusMenu(menu.inputs()), title);
    }

    // The real QMenu, filled as when it opens.
    QAction* action(const std::string& title) {
        menu.rebuild();
        for (QAction* act : menu.menu()->actions()) {
            if (act->text().toStdString() == title) {
                return act;
            }
            if (act->menu() != nullptr) {
                for (QAction* child : act->menu()->actions()) {
                    if (child->text().toStdString() == title) {
                        return child;
                    }
                }
            }
        }
        ADD_FAILURE() << "no action " << title;
        return nullptr;
    }

    TempHome home;
    std::vector<HistoryEntry> history;
    std::vector<std::pair<HUDMode, double>> flashes;
    std::vector<QUrl> opened;
    StatusMenu menu;
};

TEST_F(StatusMenuActions, TogglesAndChoicesWriteThePreferences) {
    ASSERT_TRUE(action("Pulido con IA")->isChecked()); // untouched installation
    action("Pulido con IA")->trigger();
    EXPECT_FALSE(Prefs::polish());
    EXPECT_FALSE(action("Pulido con IA")->isChecked());

    action("Sonidos")->trigger();
    EXPECT_FALSE(Prefs::sounds());
    action("Sonidos")->trigger();
    EXPECT_TRUE(Prefs::sounds());

    ASSERT_TRUE(action("Transcripción rápida")->isChecked()); // on until turned off
    action("Transcripción rápida")->trigger();
    EXPECT_FALSE(Prefs::fastTranscription());
    EXPECT_FALSE(action("Transcripción rápida")->isChecked());

    action("Alt derecha")->trigger();
    EXPECT_EQ(Prefs::hotkey(), "ropt");
    EXPECT_TRUE(action("Alt derecha")->isChecked());
    EXPECT_FALSE(action("Fn")->isChecked());
    EXPECT_EQ(menu.menu()->actions()[1]->text().toStdString(),
              "Mantén Alt derecha para dictar · toque corto = manos libres");
    action("Fn")->trigger();
    EXPECT_EQ(Prefs::hotkey(), "fn");

    action("Detectar automáticamente")->trigger();
    EXPECT_EQ(Prefs::language(), "auto");
    action("Español")->trigger();
    EXPECT_EQ(Prefs::language(), "es");

    Prefs::setHotkey("FN");
    EXPECT_FALSE(action("Fn")->isChecked());
    EXPECT_FALSE(action("Alt derecha")->isChecked());
    EXPECT_EQ(menu.menu()->actions()[1]->text().toStdString(),
              "Mantén Fn para dictar · toque corto = manos libres");
    EXPECT_TRUE(flashes.empty());
}

TEST_F(StatusMenuActions, CtrlQQuitsFromTheOpenMenu) {
    int quits = 0;
    menu.onQuit = [&] { ++quits; };
    menu.menu()->popup(QPoint(200, 200));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.menu()->isVisible(); }, 3000));
    QTest::qWait(200); // the popup's keyboard grab
    // Real key events through the X server, as the keyboard sends them to the open menu.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode q = XKeysymToKeycode(display, XK_q);
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, q, True, CurrentTime);
    XTestFakeKeyEvent(display, q, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    EXPECT_TRUE(QTest::qWaitFor([&] { return quits == 1; }, 3000));
    EXPECT_FALSE(menu.menu()->isVisible());
}

TEST_F(StatusMenuActions, TheRealMenuMatchesTheDescription) {
    history = {{"uno\ndos", "uno\ndos"}};
    menu.rebuild();
    const auto actions = menu.menu()->actions();
    const auto items = describeStatusMenu(menu.inputs());
    ASSERT_EQ(static_cast<std::size_t>(actions.size()), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const QAction* act = actions[static_cast<qsizetype>(i)];
        EXPECT_EQ(act->isSeparator(), items[i].kind == MenuItem::Kind::separator);
        if (!act->isSeparator()) {
            EXPECT_EQ(act->text().toStdString(), items[i].title);
            EXPECT_EQ(act->isEnabled(), items[i].enabled) << items[i].title;
            EXPECT_EQ(act->isChecked(), items[i].checked) << items[i].title;
            EXPECT_EQ(act->menu() != nullptr, items[i].kind == MenuItem::Kind::submenu);
        }
    }
    EXPECT_EQ(actions.back()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QAction* entry = action("uno dos");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->menu(), nullptr);
    ASSERT_EQ(entry->menu()->actions().size(), 2);
    EXPECT_EQ(entry->menu()->actions()[0]->text(), QStringLiteral("Pegar de nuevo"));

    // Rebuilding on every opening leaves no old submenus behind.
    for (int i = 0; i < 5; ++i) {
        menu.rebuild();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Últimos dictados and its one entry, Tecla, Idioma.
    EXPECT_EQ(menu.menu()->findChildren<QMenu*>().size(), 4);
}

TEST_F(StatusMenuActions, HistoryClickCopiesTheFullText) {
    history = {{"- pan\n- leche\n- huevos", "pan leche huevos"}};
    QAction* entry = action("- pan - leche - huevos");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->menu(), nullptr);
    const auto versions = entry->menu()->actions();
    ASSERT_EQ(versions.size(), 5);
    EXPECT_EQ(versions[1]->text(), QStringLiteral("Copiar"));
    versions[1]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("- pan\n- leche\n- huevos"));
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_EQ(flashes[0].first, HUDMode::done(QStringLiteral("Copiado")));
    EXPECT_EQ(flashes[0].second, 1.0);
}

TEST_F(StatusMenuActions, LoginItemWritesAndRemovesTheAutostartEntry) {
    const auto file = config().autostartFile;
    EXPECT_FALSE(action("Abrir al iniciar sesión")->isChecked());
    action("Abrir al iniciar sesión")->trigger();
    ASSERT_TRUE(std::filesystem::exists(file));
    const std::string entry = readFile(file);
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"/opt/Vozmo 1/vozmo\"\n"), std::string::npos) << entry;
    EXPECT_TRUE(action("Abrir al iniciar sesión")->isChecked());

    action("Abrir al iniciar sesión")->trigger();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(action("Abrir al iniciar sesión")->isChecked());

    // Switched off by the desktop's own settings: not enabled; choosing it enables it again.
    writeFile(file, "[Desktop Entry]\nType=Application\nExec=vozmo\nHidden = true\n");
    EXPECT_FALSE(action("Abrir al iniciar sesión")->isChecked());
    action("Abrir al iniciar sesión")->trigger();
    EXPECT_TRUE(action("Abrir al iniciar sesión")->isChecked());
    EXPECT_EQ(readFile(file).find("Hidden"), std::string::npos);

    // Hidden in another group does not count.
    writeFile(file, "[Desktop Entry]\nExec=vozmo\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(action("Abrir al iniciar sesión")->isChecked());
    EXPECT_TRUE(flashes.empty());
}

TEST_F(StatusMenuActions, LoginItemFailureIsLoggedAndShown) {
    // A plain file where the autostart folder should be makes registering fail.
    std::filesystem::remove_all(config().autostartFile.parent_path());
    writeFile(config().autostartFile.parent_path(), "not a folder");
    action("Abrir al iniciar sesión")->trigger();
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_EQ(flashes[0].first, HUDMode::message(QStringLiteral("No se pudo cambiar el inicio "
                                                                "automático"),
                                                 HUDColors::orange));
    EXPECT_EQ(flashes[0].second, 2.0);
    EXPECT_NE(readFile(config().logsDir / "app.log").find("] Inicio de sesión: "),
              std::string::npos);
    EXPECT_FALSE(action("Abrir al iniciar sesión")->isChecked());
}

TEST(LoginItem, ExecIsQuotedForTheDesktopEntryFormat) {
    TempHome home;
    const auto file = config().autostartFile;
    const struct {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/vozmo", R"(Exec="/usr/bin/vozmo")"},
        {"/home/a b/vozmo", R"(Exec="/home/a b/vozmo")"},
        {"/x/$HOME/`v`/\"q\"", R"(Exec="/x/\\$HOME/\\`v\\`/\\"q\\"")"},
        {"/x/50%/v", R"(Exec="/x/50%%/v")"},
        {"/x/back\\slash", R"(Exec="/x/back\\\\slash")"},
    };
    for (const auto& c : cases) {
        auto item = makeLoginItem(file, c.path);
        ASSERT_FALSE(item->setEnabled(true).has_value());
        EXPECT_NE(readFile(file).find(std::string(c.exec) + "\n"), std::string::npos)
            << readFile(file);
        EXPECT_NE(readFile(file).find("\nIcon=vozmo\n"), std::string::npos) << readFile(file);
    }
    auto broken = makeLoginItem(file, "/x/new\nline");
    EXPECT_TRUE(broken->setEnabled(true).has_value());
    // Removing an entry that is not there is no failure.
    ASSERT_FALSE(broken->setEnabled(false).has_value());
    EXPECT_FALSE(broken->setEnabled(false).has_value());
}

TEST_F(StatusMenuActions, OpenActionsAndSetup) {
    int setups = 0;
    menu.onShowSetup = [&] { ++setups; };
    action("Configuración inicial…")->trigger();
    EXPECT_EQ(setups, 1);
    action("Editar diccionario…")->trigger();
    action("Ver registros")->trigger();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(config().dictionaryPath)));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(QString::fromStdString(config().logsDir)));

    int quits = 0;
    menu.onQuit = [&] { ++quits; };
    action("Salir de Vozmo")->trigger();
    EXPECT_EQ(quits, 1);
}

// "Reintentar el último dictado" is there, above the history, only while a failed dictation can
// be sent again, and a click sends it.
TEST_F(StatusMenuActions, RetryIsOfferedOnlyForAKeptDictation) {
    bool kept = false;
    int retries = 0;
    menu.canRetry = [&] { return kept; };
    menu.onRetry = [&] { ++retries; };
    const auto titlesNow = [&] { return titles(describeStatusMenu(menu.inputs())); };
    const auto without = titlesNow();
    EXPECT_EQ(std::count(without.begin(), without.end(), "Reintentar el último dictado"), 0);
    kept = true;
    auto with = titlesNow();
    ASSERT_EQ(with.size(), without.size() + 1);
    const auto at = std::find(with.begin(), with.end(), "Reintentar el último dictado");
    ASSERT_NE(at, with.end());
    EXPECT_EQ(*(at + 1), "▸ Últimos dictados");
    action("Reintentar el último dictado")->trigger();
    EXPECT_EQ(retries, 1);
}

TEST_F(StatusMenuActions, PermissionsOpenTheBuiltInHelpAtItsSection) {
    auto helpWindows = [] {
        std::vector<QTextBrowser*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("vozmo-help") && widget->isVisible()) {
                found.push_back(qobject_cast<QTextBrowser*>(widget));
            }
        }
        return found;
    };
    action("Tecla y pegado…")->trigger();
    menu.keyMonitorOk = [] { return false; };
    action("\u26A0\uFE0E La tecla o el pegado no funcionan…")->trigger();
    const auto windows = helpWindows();
    ASSERT_EQ(windows.size(), 1u);
    ASSERT_NE(windows[0], nullptr);
    EXPECT_TRUE(windows[0]->toPlainText().contains(QStringLiteral("XTEST")));
    // Scrolled to the section, not left at the top of the page.
    EXPECT_TRUE(QTest::qWaitFor([&] { return windows[0]->verticalScrollBar()->value() > 0; }));
    EXPECT_TRUE(opened.empty());
    windows[0]->close();
}

// Openers that fail as xdg-open does without a program for the file, then one that works.
TEST_F(StatusMenuActions, OpenersFallBackAndFinallyShowThePath) {
    StatusMenu real(nullptr);
    std::vector<std::pair<QString, QString>> shown;
    real.opener().onNothingOpened = [&](const QString& path, const QString& what) {
        shown.emplace_back(path, what);
    };
    const auto marker = home.path() / "opened-by-touch";
    const QString target = QString::fromStdString(marker.string());
    real.opener().commands = [](Opener::Kind) {
        return std::vector<Opener::Command>{
            {{"/nonexistent/xdg-open"}, true}, {{"false"}, true}, {{"touch"}, false}};
    };
    real.opener().open(target, Opener::Kind::textFile, QStringLiteral("el diccionario"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(marker); }, 5000));
    EXPECT_TRUE(shown.empty());

    real.opener().commands = [](Opener::Kind) {
        return std::vector<Opener::Command>{{{"false"}, true}, {{"/nonexistent/editor"}, false}};
    };
    real.perform(item("Ver registros"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.empty(); }, 5000));
    EXPECT_EQ(shown[0].first, QString::fromStdString(config().logsDir.string()));
    EXPECT_EQ(shown[0].second, QStringLiteral("los registros"));
    EXPECT_EQ(
        nothingOpenedText(QStringLiteral("/x/logs"), QStringLiteral("los registros")),
        QStringLiteral("No hay ningún programa para abrir los registros. Está en:\n\n/x/logs"));
}

TEST(StatusIcon, LooksForEachState) {
    const struct {
        State state;
        bool ready;
        StatusIconLook look;
    } cases[] = {
        {State::idle, true, {Glyph::waveform, "waveform", false}},
        {State::idle, false, {Glyph::hourglass, "hourglass", false}},
        {State::recording, true, {Glyph::waveformCircleFill, "waveform.circle.fill", true}},
        {State::recording, false, {Glyph::waveformCircleFill, "waveform.circle.fill", true}},
        {State::processing, true, {Glyph::ellipsisCircle, "ellipsis.circle", false}},
        {State::processing, false, {Glyph::ellipsisCircle, "ellipsis.circle", false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusIconLook(c.state, c.ready), c.look) << c.look.symbolName;
    }
}

TEST(StatusIcon, DoesNothingBeforeInstallAndLogsAMissingTrayOnce) {
    TempHome home;
    ensureSupport();
    StatusIcon icon;
    icon.update(State::recording, Readiness{true, true, false, false, false, false, ""});
    EXPECT_FALSE(icon.installed());
    EXPECT_EQ(icon.look(), statusIconLook(State::idle, false));

    QMenu menu;
    icon.install(&menu);
    icon.install(&menu);
    ASSERT_TRUE(icon.installed());
    EXPECT_EQ(icon.tray()->toolTip(), QStringLiteral("Vozmo · Falta configurar"));
    EXPECT_EQ(icon.tray()->contextMenu(), &menu);
    EXPECT_EQ(icon.look(), statusIconLook(State::idle, false));
    icon.update(State::idle, Readiness{true, true, false, false, false, false, ""});
    EXPECT_EQ(icon.tray()->toolTip(), QStringLiteral("Vozmo · Listo"));
    icon.update(State::recording, Readiness{true, false, false, false, false, false, ""});
    EXPECT_EQ(icon.look(), statusIconLook(State::recording, false));
    EXPECT_FALSE(icon.tray()->icon().isNull());

    // The test desktop has no tray host.
    EXPECT_FALSE(icon.visibleInTray());
    const std::string log = readFile(config().logsDir / "app.log");
    const std::string line = "No hay bandeja del sistema";
    ASSERT_NE(log.find(line), std::string::npos);
    EXPECT_EQ(log.find(line), log.rfind(line));
}

TEST(StatusIcon, ToolTipSaysTheState) {
    const struct {
        State state;
        Readiness servers;
        const char* tip;
    } cases[] = {
        {State::idle, {false, false, false, false, false, false, ""}, "Vozmo · Falta configurar"},
        {State::idle, {true, false, true, false, false, false, ""}, "Vozmo · Cargando Whisper…"},
        {State::idle, {true, true, false, false, false, false, ""}, "Vozmo · Listo"},
        {State::idle, {true, true, true, true, false, false, ""}, "Vozmo · Listo"},
        {State::recording, {true, true, true, true, false, false, ""}, "Vozmo · Escuchando"},
        {State::processing, {true, true, true, true, false, false, ""}, "Vozmo · Transcribiendo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusToolTip(c.state, c.servers).toStdString(), c.tip);
    }
}

TEST(StatusIcon, ALeftClickOpensTheMenu) {
    TempHome home;
    ensureSupport();
    StatusMenu menu(nullptr);
    StatusIcon icon;
    icon.install(menu.menu());
    ASSERT_TRUE(icon.installed());
    // What the tray host reports for a left click; a double click or a middle click is not one.
    emit icon.tray()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(menu.menu()->isVisible());
    emit icon.tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.menu()->isVisible(); }, 3000));
    // Opening rebuilds it, as a right click does.
    EXPECT_FALSE(menu.menu()->actions().isEmpty());
    menu.menu()->close();
}

} // namespace
} // namespace vozmo
