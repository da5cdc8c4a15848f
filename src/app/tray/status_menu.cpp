#include "status_menu.h"

#include "config.h"
#include "help_window.h"
#include "key_names.h"
#include "log.h"
#include "prefs.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QShortcut>
#include <QUrl>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>

namespace vozmo {

namespace {

constexpr int kTitleGraphemes = 60;

MenuItem separator() {
    MenuItem item;
    item.kind = MenuItem::Kind::separator;
    return item;
}

MenuItem disabled(std::string title) {
    MenuItem item;
    item.title = std::move(title);
    item.enabled = false;
    return item;
}

MenuItem action(std::string title, MenuAction action) {
    MenuItem item;
    item.title = std::move(title);
    item.action = action;
    return item;
}

MenuItem checkable(std::string title, MenuAction act, bool checked) {
    MenuItem item = action(std::move(title), act);
    item.checkable = true;
    item.checked = checked;
    return item;
}

MenuItem submenu(std::string title, std::vector<MenuItem> children) {
    MenuItem item;
    item.kind = MenuItem::Kind::submenu;
    item.title = std::move(title);
    item.children = std::move(children);
    return item;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

std::string statusLine(const Readiness& servers) {
    if (!servers.whisperAvailable) {
        return "Falta la configuración inicial";
    }
    if (!servers.problem.empty() && !servers.whisperReady) {
        return servers.problem;
    }
    if (!servers.whisperReady) {
        return "Cargando Whisper…";
    }
    if (servers.llmReady && servers.polishTooSlow) {
        return servers.fasterPolishModel
                   ? "Listo · IA demasiado lenta en este equipo con este modelo: prueba el rápido"
                   : "Listo · IA demasiado lenta en este equipo";
    }
    if (servers.llmReady) {
        return "Listo · Whisper + IA";
    }
    if (servers.llmAvailable) {
        return "Listo · cargando IA…";
    }
    return "Listo · solo Whisper";
}

std::string historyTitle(std::string_view entry) {
    std::string oneLine(entry);
    std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(oneLine);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !clusters) {
        return oneLine;
    }
    clusters->setText(text);
    int count = 0;
    int32_t cut = 0;
    for (int32_t end = clusters->next(); end != icu::BreakIterator::DONE; end = clusters->next()) {
        ++count;
        if (count == kTitleGraphemes) {
            cut = end;
        } else if (count > kTitleGraphemes) {
            std::string shortened;
            text.tempSubString(0, cut).toUTF8String(shortened);
            return shortened + "…";
        }
    }
    return oneLine;
}

std::vector<MenuItem> describeStatusMenu(const StatusMenuInputs& in) {
    std::vector<MenuItem> items;
    items.push_back(disabled(statusLine(in.servers)));
    items.push_back(
        disabled("Mantén " + in.hotkeyName + " para dictar · toque corto = manos libres"));
    if (!in.keyMonitorOk || !in.pasteOk) {
        items.push_back(action("\u26A0\uFE0E La tecla o el pegado no funcionan…",
                               MenuAction::openKeyAndPasteHelp));
    }
    items.push_back(separator());

    if (in.canRetry) {
        items.push_back(action("Reintentar el último dictado", MenuAction::retryLast));
    }
    if (in.canUndoPolish) {
        MenuItem undo = action("Deshacer el pulido", MenuAction::undoPolish);
        undo.toolTip = "Cambia el último texto pegado por lo que dijiste, sin pulir";
        items.push_back(std::move(undo));
    }
    std::vector<MenuItem> recent;
    if (in.history.empty()) {
        recent.push_back(disabled("Vacío"));
    }
    const auto versionItem = [](std::string title, MenuAction act, const std::string& text) {
        MenuItem item = action(std::move(title), act);
        item.payload = text;
        return item;
    };
    for (const HistoryEntry& entry : in.history) {
        std::vector<MenuItem> versions = {
            versionItem("Pegar de nuevo", MenuAction::pasteHistory, entry.text),
            versionItem("Copiar", MenuAction::copyHistory, entry.text)};
        if (entry.polished()) {
            versions.push_back(separator());
            versions.push_back(versionItem("Pegar sin pulir", MenuAction::pasteHistory, entry.raw));
            versions.push_back(versionItem("Copiar sin pulir", MenuAction::copyHistory, entry.raw));
        }
        recent.push_back(submenu(historyTitle(entry.text), std::move(versions)));
    }
    items.push_back(submenu("Últimos dictados", std::move(recent)));
    items.push_back(separator());

    items.push_back(checkable("Pulido con IA", MenuAction::togglePolish, in.polish));
    items.push_back(checkable("Transcripción rápida", MenuAction::toggleFastTranscription,
                              in.fastTranscription));
    std::vector<MenuItem> keys = {
        checkable("Fn", MenuAction::setFn, in.hotkey == Prefs::kHotkeyFn),
        checkable("Alt derecha", MenuAction::setROpt, in.hotkey == Prefs::kHotkeyRightAlt)};
    if (in.rightAltIsAltGr) {
        keys.back().enabled = false;
        keys.back().toolTip = "En tu distribución de teclado, Alt derecha es AltGr (con ella "
                              "escribes @ # €)";
    }
    if (!customHotkeyParts(in.hotkey).empty()) {
        MenuItem chosen = checkable(hotkeyDisplayName(in.hotkey), MenuAction::none, true);
        chosen.enabled = false;
        keys.push_back(std::move(chosen));
    }
    keys.push_back(separator());
    keys.push_back(action("Tecla de dictado…", MenuAction::chooseKey));
    items.push_back(submenu("Tecla", std::move(keys)));
    items.push_back(submenu("Idioma", {checkable("Español", MenuAction::setES, in.language == "es"),
                                       checkable("Detectar automáticamente", MenuAction::setAuto,
                                                 in.language == "auto")}));
    items.push_back(checkable("Sonidos", MenuAction::toggleSounds, in.sounds));
    items.push_back(
        checkable("Abrir al iniciar sesión", MenuAction::toggleLogin, in.loginItemEnabled));
    items.push_back(separator());

    items.push_back(action("Configuración inicial…", MenuAction::showSetup));
    items.push_back(action("Editar diccionario…", MenuAction::openDictionary));
    items.push_back(action("Tecla y pegado…", MenuAction::openKeyAndPasteHelp));
    items.push_back(action("Ver registros", MenuAction::openLogs));
    items.push_back(separator());

    MenuItem quit = action("Salir de Vozmo", MenuAction::quit);
    quit.shortcut = "Ctrl+Q";
    items.push_back(std::move(quit));
    return items;
}

StatusMenu::StatusMenu(std::unique_ptr<LoginItem> loginItem, QObject* parent)
    : QObject(parent), loginItem_(std::move(loginItem)), menu_(std::make_unique<QMenu>()),
      opener_(std::make_unique<Opener>()) {
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusMenu::rebuild);
    // The menu's own actions never see their shortcuts: Qt matches an action in a menu through
    // the widget that opened the menu, and a tray menu has none. The open menu is the active
    // popup, so a shortcut on the menu window itself does fire.
    auto* quit = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), menu_.get());
    quit->setContext(Qt::WindowShortcut);
    connect(quit, &QShortcut::activated, this, [this] {
        menu_->close();
        perform(action("Salir de Vozmo", MenuAction::quit));
    });
}

StatusMenu::~StatusMenu() = default;

StatusMenuInputs StatusMenu::inputs() const {
    StatusMenuInputs in;
    if (readiness) {
        in.servers = readiness();
    }
    if (history) {
        in.history = history();
    }
    in.polish = Prefs::polish();
    in.fastTranscription = Prefs::fastTranscription();
    in.sounds = Prefs::sounds();
    in.hotkey = Prefs::hotkey();
    in.hotkeyName = keyName ? keyName() : std::string();
    if (in.hotkeyName.empty()) {
        in.hotkeyName = Prefs::hotkeyName();
    }
    in.language = Prefs::language();
    in.keyMonitorOk = !keyMonitorOk || keyMonitorOk();
    in.pasteOk = !pasteOk || pasteOk();
    in.loginItemEnabled = loginItem_ && loginItem_->enabled();
    in.canRetry = canRetry && canRetry();
    in.canUndoPolish = canUndoPolish && canUndoPolish();
    in.rightAltIsAltGr = rightAltIsAltGr && rightAltIsAltGr();
    return in;
}

void StatusMenu::rebuild() {
    menu_->clear();
    for (const QPointer<QMenu>& sub : submenus_) {
        if (sub) {
            sub->deleteLater();
        }
    }
    submenus_.clear();
    fill(menu_.get(), describeStatusMenu(inputs()));
}

void StatusMenu::fill(QMenu* menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::separator:
            menu->addSeparator();
            break;
        case MenuItem::Kind::submenu: {
            auto* sub = new QMenu(qs(item.title), menu);
            submenus_.emplace_back(sub);
            fill(sub, item.children);
            menu->addMenu(sub);
            break;
        }
        case MenuItem::Kind::item: {
            QAction* act = menu->addAction(qs(item.title));
            act->setEnabled(item.enabled);
            act->setCheckable(item.checkable);
            act->setChecked(item.checked);
            if (!item.shortcut.empty()) {
                // Shown only; the menu's own shortcut does the work (see the constructor).
                act->setShortcut(QKeySequence(qs(item.shortcut)));
                act->setShortcutContext(Qt::WidgetShortcut);
            }
            if (!item.toolTip.empty()) {
                act->setToolTip(qs(item.toolTip));
            }
            if (item.action != MenuAction::none) {
                connect(act, &QAction::triggered, this, [this, item] { perform(item); });
            }
            break;
        }
        }
    }
    menu->setToolTipsVisible(true);
}

void StatusMenu::flash(const HUDMode& mode, double seconds) {
    if (onFlash) {
        onFlash(mode, seconds);
    }
}

void StatusMenu::perform(const MenuItem& item) {
    switch (item.action) {
    case MenuAction::none:
        break;
    case MenuAction::retryLast:
        if (onRetry) {
            onRetry();
        }
        break;
    case MenuAction::undoPolish:
        if (onUndoPolish) {
            onUndoPolish();
        }
        break;
    case MenuAction::pasteHistory:
        if (onPasteAgain) {
            onPasteAgain(item.payload);
        }
        break;
    case MenuAction::chooseKey:
        if (onChooseKey) {
            onChooseKey();
        }
        break;
    case MenuAction::copyHistory:
        if (onCopy) {
            onCopy(item.payload);
            flash(HUDMode::done(QStringLiteral("Copiado")), 1.0);
        } else if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setText(qs(item.payload), QClipboard::Clipboard);
            flash(HUDMode::done(QStringLiteral("Copiado")), 1.0);
        }
        break;
    case MenuAction::togglePolish:
        Prefs::togglePolish();
        break;
    case MenuAction::toggleFastTranscription:
        Prefs::toggleFastTranscription();
        break;
    case MenuAction::toggleSounds:
        Prefs::toggleSounds();
        break;
    case MenuAction::setFn:
        Prefs::setHotkey(Prefs::kHotkeyFn);
        break;
    case MenuAction::setROpt:
        Prefs::setHotkey(Prefs::kHotkeyRightAlt);
        break;
    case MenuAction::setES:
        Prefs::setLanguage("es");
        break;
    case MenuAction::setAuto:
        Prefs::setLanguage("auto");
        break;
    case MenuAction::toggleLogin:
        toggleLogin();
        break;
    case MenuAction::showSetup:
        if (onShowSetup) {
            onShowSetup();
        }
        break;
    case MenuAction::openDictionary:
        open(config().dictionaryPath, Opener::Kind::textFile, QStringLiteral("el diccionario"));
        break;
    case MenuAction::openKeyAndPasteHelp:
        showHelp(HelpSection::permissions);
        break;
    case MenuAction::openLogs:
        open(config().logsDir, Opener::Kind::folder, QStringLiteral("los registros"));
        break;
    case MenuAction::quit:
        if (onQuit) {
            onQuit();
        } else {
            QCoreApplication::quit();
        }
        break;
    }
}

void StatusMenu::open(const std::filesystem::path& path, Opener::Kind kind, const QString& what) {
    const QString file = QString::fromStdString(path.string());
    if (openUrl) {
        openUrl(QUrl::fromLocalFile(file));
        return;
    }
    opener_->open(file, kind, what);
}

void StatusMenu::toggleLogin() {
    if (!loginItem_) {
        return;
    }
    if (auto error = loginItem_->setEnabled(!loginItem_->enabled())) {
        log("Inicio de sesión: " + error->description);
        flash(HUDMode::message(QStringLiteral("No se pudo cambiar el inicio automático"),
                               HUDColors::orange),
              2.0);
    }
}

} // namespace vozmo
