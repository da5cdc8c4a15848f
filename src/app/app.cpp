#include "app.h"

#include "config.h"
#include "desktop_parts.h"
#include "error.h"
#include "find_binary.h"
#include "hotkey.h"
#include "hud.h"
#include "key_chooser.h"
#include "log.h"
#include "main_thread.h"
#include "model_catalog.h"
#include "model_files.h"
#include "notices.h"
#include "polish_speed.h"
#include "prefs.h"
#include "recorder.h"
#include "servers.h"
#include "setup.h"
#include "setup_window.h"
#include "status_icon.h"
#include "status_menu.h"

#include <QFileSystemWatcher>
#include <QPointer>
#include <QTimer>

namespace vozmo {

App::App(AppEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)), servers_(std::make_shared<Servers>()),
      recorder_(std::make_unique<Recorder>(env_.makeAudioInput)),
      hotkey_(std::make_unique<Hotkey>(env_.makeKeyEvents)) {
    wasTrusted_ = env_.canListenAndType && env_.canListenAndType();

    SetupEnvironment setupEnv = desktopSetupEnvironment();
    setupEnv.micStatus = [this] {
        return env_.microphoneStatus ? static_cast<int>(env_.microphoneStatus()) : 0;
    };
    if (env_.soundServerRunning) {
        setupEnv.soundServerRunning = env_.soundServerRunning;
    }
    if (env_.canListenAndType) {
        setupEnv.keyAccessOk = env_.canListenAndType;
    }
    if (env_.desktopInstructions) {
        setupEnv.keyAndPasteInstructions = env_.desktopInstructions;
    }
    // The setup window waiting for the Fn key: that press starts no dictation.
    setupEnv.watchFnKey = [this](std::function<void()> onFnSeen) {
        controller_->claimNextPress(std::move(onFnSeen));
    };
    setupEnv.chooseKey = [this] { chooseKey(); };
    setupEnv.rightAltIsAltGr = env_.rightAltIsAltGr;
    setup_ = std::make_unique<Setup>(std::move(setupEnv));
    // Checked while its window is open; the window turns this on.
    setup_->setChecking(false);
    setupWindow_ = std::make_unique<SetupWindowHost>(*setup_);
    notices_ = std::make_unique<Notices>(env_.notifier.get());

    recorderPart_ = std::make_unique<DesktopRecorder>(*recorder_, env_);
    keysPart_ = std::make_unique<DesktopKeys>(*hotkey_);
    speechPart_ = std::make_unique<ServerSpeech>(servers_);
    polishPart_ = std::make_unique<ServerPolish>(servers_);
    typistPart_ = std::make_unique<DesktopTypist>(env_);
    targetsPart_ = std::make_unique<DesktopTargets>(env_);
    hudPart_ = std::make_unique<PanelHud>([this]() -> HUD& { return hud(); });
    clockPart_ = std::make_unique<QtClock>();
    mainPart_ = std::make_unique<QtMainQueue>();
    controller_ = std::make_unique<DictationController>(DictationParts{
        *recorderPart_, *keysPart_, *speechPart_, *polishPart_, *typistPart_, *targetsPart_,
        *hudPart_, *clockPart_, env_.sounds.get(), *mainPart_, *this});
}

App::~App() {
    shutdown();
}

HUD& App::hud() {
    if (!hud_) {
        hud_ = std::make_unique<HUD>();
    }
    return *hud_;
}

void App::flash(const HUDMode& mode, double seconds) {
    hudPart_->flash(mode, seconds);
}

void App::stateChanged(State) {
    updateIcon();
}

void App::leftOnClipboard(const std::string& keys, LeftReason why) {
    notices_->leftOnClipboard(keys, why);
}

Readiness App::readiness() const {
    Readiness readiness;
    readiness.whisperAvailable = servers_->whisperAvailable();
    readiness.whisperReady = servers_->whisperReady();
    readiness.llmAvailable = servers_->llmAvailable();
    readiness.llmReady = servers_->llmReady();
    readiness.polishTooSlow = servers_->polishSpeed()->tooSlow();
    readiness.fasterPolishModel = setup_->modelTier(ModelRole::polish) != ModelTier::fast;
    readiness.problem = setup_->serverProblem();
    return readiness;
}

std::string App::keyName() const {
    std::string name = env_.keyName ? env_.keyName() : std::string();
    return name.empty() ? Prefs::hotkeyName() : name;
}

void App::updateIcon() {
    if (icon_) {
        icon_->update(controller_->state(), readiness());
    }
}

void App::showSetup() {
    setupWindow_->showSetup();
}

// ---- Lifecycle ----

void App::start() {
    ensureSupport();

    menu_ = std::make_unique<StatusMenu>(
        makeLoginItem(config().autostartFile, config().executableDir / "vozmo"));
    menu_->readiness = [this] { return readiness(); };
    menu_->history = [this] { return controller_->dictations().entries(); };
    // Both from the desktop's one choice of backends, on every kind of session.
    menu_->keyMonitorOk = [this] { return !env_.canListenAndType || env_.canListenAndType(); };
    menu_->pasteOk = menu_->keyMonitorOk;
    menu_->keyName = [this] { return keyName(); };
    menu_->onFlash = [this](const HUDMode& mode, double seconds) { flash(mode, seconds); };
    menu_->onShowSetup = [this] { showSetup(); };
    menu_->canRetry = [this] { return controller_->canRetry(); };
    menu_->onRetry = [this] { controller_->retryLast(); };
    menu_->canUndoPolish = [this] { return controller_->canUndoPolish(); };
    menu_->onUndoPolish = [this] { undoPolish(); };
    menu_->onPasteAgain = [this](const std::string& text) { pasteAgain(text); };
    menu_->onChooseKey = [this] { chooseKey(); };
    menu_->rightAltIsAltGr = [this] { return env_.rightAltIsAltGr && env_.rightAltIsAltGr(); };
    menu_->onCopy = env_.copyText;
    icon_ = std::make_unique<StatusIcon>();
    icon_->install(menu_->menu());
    updateIcon();
    if (!icon_->visibleInTray()) {
        // Nothing shows the icon: the setup window is the one way in, and it says so. It
        // leaves the focus alone: the user may already be typing somewhere.
        setupWindow_->setTrayMissing(true);
        setupWindow_->showSetupWithoutFocus();
        notices_->noTrayHost();
    }

    QPointer<App> self(this);
    servers_->setOnChange([self] {
        if (self) {
            self->serversChanged();
        }
    });
    setup_->onModelsReady = [self] {
        if (self) {
            const SetupWindow* window = self->setupWindow_->window();
            self->notices_->modelsReady(window != nullptr && window->isVisible(), self->keyName());
            self->startServersIfPossible();
            // A model chosen anew replaces the file a running server loaded.
            self->servers_->reloadChangedModels();
        }
    };
    // Setup's own checks notice a program copied in, or key access gained, while its window is
    // open; nothing polls while it is closed.
    connect(setup_.get(), &Setup::changed, this, [this] {
        noticeKeyAccess();
        if (setup_->modelsOK() && setup_->whisperServerFound() && !servers_->whisperLaunched()) {
            startServersIfPossible();
        }
    });
    watchServerFolders();
    startServersIfPossible();

    if (!setup_->ready() || !Prefs::boolForKey("setupShown")) {
        Prefs::setBool("setupShown", true);
        showSetup();
    }

    recorder_->onLevel = [self](float level) {
        // The capture thread must not touch the panel: hop to the main thread.
        postToMain([self, level] {
            if (self) {
                self->hud().push(level);
            }
        });
    };
    recorder_->onLost = [self](unsigned session, const std::string& why) {
        postToMain([self, session, why] {
            // A late notice of an earlier recording must not end the current one.
            if (self && session == self->recorder_->session()) {
                self->controller_->recordingLost(why);
            }
        });
    };
    hotkey_->onDown = [self] {
        if (self) {
            self->keyDown();
        }
    };
    hotkey_->onUp = [self] {
        if (self) {
            self->keyUp();
        }
    };
    hotkey_->onOtherKey = [self] {
        if (self) {
            self->otherKey();
        }
    };
    hotkey_->onEscape = [self] {
        if (self) {
            self->cancel(false);
        }
    };
    if (env_.desktop) {
        env_.desktop->onChange = [self] {
            if (self) {
                self->desktopChanged();
            }
        };
        // The desktop's sessions open now, not at the first paste: a permission dialog shows
        // at start, beside the setup window's explanation, never in the middle of a dictation.
        env_.desktop->start();
    }
    hotkey_->install();

    wasTrusted_ = env_.canListenAndType && env_.canListenAndType();
    log(std::string("Vozmo iniciado. Accesibilidad: ") + (wasTrusted_ ? "true" : "false"));
}

// A desktop portal answered, or closed a session: the key or the paste came or went.
void App::desktopChanged() {
    const bool trusted = env_.canListenAndType && env_.canListenAndType();
    if (trusted != wasTrusted_) {
        log(std::string("Tecla y pegado: ") + (trusted ? "true" : "false"));
        wasTrusted_ = trusted;
    }
    updateIcon();
    setup_->refresh();
}

void App::shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    controller_->shutdown();
    servers_->stop();
}

void App::startServersIfPossible() {
    if (!usableModelsPresent()) {
        return;
    }
    const bool wasLaunched = servers_->whisperLaunched();
    // Starts whichever server is there and not running yet; the others stay as they are.
    servers_->start();
    if (!wasLaunched && servers_->whisperLaunched() && controller_->state() == State::idle) {
        hudPart_->show(HUDMode::loading());
    }
    updateSetupServers();
}

void App::updateSetupServers() {
    const Outcome problem = servers_->problem();
    setup_->setServerProblem(problem ? std::string()
                                     : userMessage(problem.error()) + ". " +
                                           userAdvice(problem.error()));
}

// The programs and models may arrive while we run (a download, a copy into ~/.local/bin):
// watch the folders they are looked up in. A folder that does not exist yet is watched through
// its nearest existing parent, and the watch moves down as the folders appear.
void App::watchServerFolders() {
    if (!folderWatch_) {
        folderWatch_ = new QFileSystemWatcher(this);
        connect(folderWatch_, &QFileSystemWatcher::directoryChanged, this, [this] {
            watchServerFolders();
            startServersIfPossible();
        });
    }
    const char* path = std::getenv("PATH");
    const char* home = std::getenv("HOME");
    auto folders = binarySearchFolders(config().executableDir, path ? path : "", home ? home : "");
    folders.push_back(config().modelsDir);
    QStringList wanted;
    for (auto folder : folders) {
        std::error_code ec;
        while (!folder.empty() && !std::filesystem::is_directory(folder, ec) &&
               folder != folder.root_path()) {
            folder = folder.parent_path();
        }
        const QString name = QString::fromStdString(folder.string());
        if (!folder.empty() && !wanted.contains(name)) {
            wanted.push_back(name);
        }
    }
    const QStringList watched = folderWatch_->directories();
    for (const auto& name : watched) {
        if (!wanted.contains(name)) {
            folderWatch_->removePath(name);
        }
    }
    for (const auto& name : wanted) {
        if (!watched.contains(name)) {
            folderWatch_->addPath(name);
        }
    }
}

void App::serversChanged() {
    updateIcon();
    if (servers_->whisperGaveUp()) {
        notices_->speechServerGaveUp((config().logsDir / "whisper.log").string());
    }
    updateSetupServers();
    if (!servers_->whisperReady() || announcedReady_) {
        return;
    }
    announcedReady_ = true;
    if (controller_->state() != State::idle) {
        return;
    }
    flash(HUDMode::done(QString::fromStdString("Listo · mantén " + keyName())), 2.2);
}

void App::noticeKeyAccess() {
    bool trusted = env_.canListenAndType && env_.canListenAndType();
    if (trusted && !wasTrusted_) {
        hotkey_->install();
        flash(HUDMode::done(QStringLiteral("Permiso concedido")), 1.5);
    }
    wasTrusted_ = trusted;
}

// ---- Dictation ----

void App::keyDown() {
    controller_->keyDown();
}

void App::keyUp() {
    controller_->keyUp();
}

void App::otherKey() {
    controller_->otherKey();
}

void App::cancel(bool silent) {
    controller_->cancel(silent);
}

// ---- The key and the history, from the menu ----

void App::chooseKey() {
    if (!keyChooser_) {
        KeyChooser::Desktop desktop;
        desktop.makeCapture = env_.makeKeyCapture;
        desktop.instructions = [this] {
            return env_.keyChoiceHelp ? env_.keyChoiceHelp().instructions
                                      : std::vector<std::string>{};
        };
        desktop.linesToCopy = [this] {
            return env_.keyChoiceHelp ? env_.keyChoiceHelp().linesToCopy
                                      : std::vector<std::string>{};
        };
        keyChooser_ = std::make_unique<KeyChooser>(std::move(desktop));
        // The key pressed to be chosen must not start a dictation.
        keyChooser_->onWaiting = [this](bool waiting) { hotkey_->setPaused(waiting); };
        keyChooser_->onChosen = [this] {
            setup_->refresh();
            flash(HUDMode::done(QString::fromStdString("Mantén " + keyName() + " para dictar")),
                  2.0);
        };
    }
    keyChooser_->start();
}

// A menu item runs while the menu still closes and may hold the keyboard: the strokes wait a
// moment, so they reach the window that had the focus.
constexpr int kAfterMenuMs = 150;

void App::pasteAgain(const std::string& text) {
    QPointer<App> self(this);
    QTimer::singleShot(kAfterMenuMs, this, [self, text] {
        if (self) {
            self->controller_->pasteAgain(text);
        }
    });
}

void App::undoPolish() {
    QPointer<App> self(this);
    QTimer::singleShot(kAfterMenuMs, this, [self] {
        if (self) {
            self->controller_->undoPolish();
        }
    });
}

} // namespace vozmo
