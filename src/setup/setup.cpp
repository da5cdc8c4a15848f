#include "setup.h"

#include <QFileInfo>

#include "find_binary.h"
#include "key_names.h"
#include "main_thread.h"
#include "model_files.h"
#include "prefs.h"

#include <QPointer>

#include <cmath>
#include <set>

namespace vozmo {

bool fnConfigured() {
    return Prefs::boolForKey("fnSeen");
}

namespace {

// The dictation key is not Fn: the right Alt key, or one the user chose by pressing it.
bool otherKeyChosen() {
    return Prefs::hotkey() == Prefs::kHotkeyRightAlt || !customHotkeyParts(Prefs::hotkey()).empty();
}

} // namespace

Setup::Setup(SetupEnvironment environment, std::unique_ptr<Downloader> downloader, QObject* parent)
    : QObject(parent), env_(std::move(environment)), facts_(machineFacts()),
      downloader_(downloader ? std::move(downloader) : std::make_unique<Downloader>()) {
    adoptUnrecordedModels();
    modelsOK_ = modelsPresent(downloader_->specs());
    micOK_ = micStatus() == kMicAuthorized;
    axOK_ = keyAccessOk();
    readKeyAccess();
    readSoundServer();
    fnOK_ = fnConfigured() || otherKeyChosen();
    hotkey_ = Prefs::hotkey();
    whisperServerFound_ = programFound("whisper-server");
    llmServerFound_ = programFound("llama-server");
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &Setup::refresh);
    timer_.start();

    fnCountdown_.setInterval(1000);
    connect(&fnCountdown_, &QTimer::timeout, this,
            [this] { assign(fnSecondsLeft_, std::max(0, fnSecondsLeft_ - 1)); });
    modelsSettle_.setSingleShot(true);
    modelsSettle_.setInterval(1500);
    connect(&modelsSettle_, &QTimer::timeout, this, &Setup::checkCopiedModels);
    connect(&modelsWatcher_, &QFileSystemWatcher::directoryChanged, this,
            [this] { checkCopiedModels(); });
    watchModelsFolder();
    // Files whose hash was never taken (copied in by hand while Vozmo was not running, or
    // downloaded by an older version) are read once, in the background.
    if (modelsOK_) {
        for (const ModelSpec& spec : downloader_->specs()) {
            if (modelNeedsHashing(spec)) {
                QTimer::singleShot(0, this, [this] { checkModels(); });
                break;
            }
        }
    }
}

Setup::~Setup() {
    if (fnCheck_ == FnCheck::Watching) {
        stopWatchingFn();
    }
}

template <typename T> void Setup::assign(T& field, const T& value) {
    if (field == value) {
        return;
    }
    field = value;
    emit changed();
}

int Setup::micStatus() const {
    return env_.micStatus ? env_.micStatus() : 0;
}

bool Setup::keyAccessOk() const {
    return env_.keyAccessOk && env_.keyAccessOk();
}

bool Setup::programFound(const std::string& name) const {
    return env_.findProgram ? env_.findProgram(name).has_value() : findBinary(name).has_value();
}

void Setup::watchModelsFolder() {
    std::set<QString> folders;
    for (const ModelSpec& spec : downloader_->specs()) {
        folders.insert(QString::fromStdString(spec.dest.parent_path().string()));
    }
    bool added = false;
    for (const QString& folder : folders) {
        if (!modelsWatcher_.directories().contains(folder) && QFileInfo::exists(folder)) {
            added |= modelsWatcher_.addPath(folder);
        }
    }
    // Whatever arrived before the watch began raised no event.
    if (added) {
        checkCopiedModels();
    }
}

void Setup::checkCopiedModels() {
    if (modelsOK_ || downloading_) {
        return;
    }
    std::vector<std::int64_t> sizes;
    bool anyThere = false;
    for (const ModelSpec& spec : downloader_->specs()) {
        sizes.push_back(fileSize(spec.dest));
        anyThere |= sizes.back() > 0;
    }
    if (!anyThere) {
        lastModelSizes_.clear();
        return; // the watcher wakes us when something arrives
    }
    // Growing files raise no event on the folder: look again until the sizes hold still.
    if (!modelsPresent(downloader_->specs()) || sizes != lastModelSizes_) {
        lastModelSizes_ = std::move(sizes);
        modelsSettle_.start();
        return;
    }
    assign(downloadFailed_, false);
    for (const ModelSpec& spec : downloader_->specs()) {
        if (modelNeedsHashing(spec)) {
            download(); // reads them once; the end of that run announces the models
            return;
        }
    }
    assign(modelsOK_, true);
    if (onModelsReady) {
        onModelsReady();
    }
}

std::string Setup::modelWarning() const {
    std::string names;
    for (const ModelSpec& spec : downloader_->specs()) {
        if (modelDiffersFromCatalogue(spec)) {
            names += (names.empty() ? "" : " y ") + spec.dest.filename().string();
        }
    }
    if (names.empty()) {
        return {};
    }
    return "No es el archivo que se descarga: " + names + ". Se usa igualmente.";
}

void Setup::readKeyAccess() {
    std::vector<std::string> missing;
    if (!axOK_ && env_.missingKeyAccess) {
        missing = env_.missingKeyAccess();
    }
    assign(missingKeyAccess_, missing);
    std::vector<std::string> instructions;
    if (!axOK_ && env_.keyAndPasteInstructions) {
        instructions = env_.keyAndPasteInstructions();
    }
    assign(keyAndPasteInstructions_, instructions);
}

void Setup::readSoundServer() {
    // Only asked while the microphone is missing: it is what the row then has to explain.
    assign(soundServerMissing_, !micOK_ && env_.soundServerRunning && !env_.soundServerRunning());
}

void Setup::setServerProblem(const std::string& problem) {
    assign(serverProblem_, problem);
}

void Setup::setChecking(bool on) {
    if (on == timer_.isActive()) {
        return;
    }
    if (on) {
        refresh();
        timer_.start();
    } else {
        timer_.stop();
    }
}

void Setup::refresh() {
    assign(micOK_, micStatus() == kMicAuthorized);
    assign(axOK_, keyAccessOk());
    readKeyAccess();
    readSoundServer();
    watchModelsFolder();
    // The user may copy the programs in while the window is open.
    assign(whisperServerFound_, programFound("whisper-server"));
    assign(llmServerFound_, programFound("llama-server"));
    // A key chosen in its own window makes Fn unneeded.
    if (otherKeyChosen()) {
        assign(fnOK_, true);
    }
    assign(hotkey_, Prefs::hotkey());
}

void Setup::download() {
    assign(downloading_, true);
    assign(downloadFailed_, false);
    assign(progress_, 0.0);
    // The Downloader is owned here, and it never calls back once destroyed.
    downloader_->onProgress = [this](double fraction, const std::string& text) {
        assign(progress_, fraction);
        assign(progressText_, text);
    };
    downloader_->onFinish = [this](const Outcome& outcome) {
        const bool ok = outcome.ok();
        assign(downloadProblem_, !ok && outcome.error().detail.ends_with(kNotTheExpectedFile)
                                     ? std::string(kNotTheExpectedFile)
                                     : std::string());
        assign(downloading_, false);
        assign(modelsOK_, modelsPresent(downloader_->specs()));
        assign(downloadFailed_, !ok);
        if (ok && !modelsOK_) {
            // The choice changed while this run fetched the files of the old one.
            download();
            return;
        }
        if (ok && modelsOK_ && onModelsReady) {
            onModelsReady();
        }
    };
    downloader_->start();
}

void Setup::checkModels() {
    if (downloading_) {
        return;
    }
    assign(downloading_, true);
    downloader_->onProgress = [this](double fraction, const std::string& text) {
        assign(progress_, fraction);
        assign(progressText_, text);
    };
    // The models were ready before and still are: nothing to announce, only the warning to show.
    downloader_->onFinish = [this](const Outcome&) {
        assign(downloading_, false);
        assign(modelsOK_, modelsPresent(downloader_->specs()));
        emit changed();
    };
    downloader_->start();
}

void Setup::requestMic() {
    if (micStatus() != kMicAuthorized) {
        bool opened = env_.openSoundSettings && env_.openSoundSettings();
        assign(soundSettingsMissing_, !opened);
    }
    // There is nothing to grant on the desktop: the answer is whether a microphone is there now;
    // the refresh follows what the user changes in the sound settings.
    assign(micOK_, micStatus() == kMicAuthorized);
}

void Setup::openKeyAndPasteHelp() {
    if (!keyAccessOk() && env_.openPermissionsHelp) {
        env_.openPermissionsHelp();
    }
}

void Setup::chooseKey() {
    if (fnCheck_ == FnCheck::Watching) {
        cancelFnCheck();
    }
    if (env_.chooseKey) {
        env_.chooseKey();
    }
}

void Setup::configureFn() {
    if (fnCheck_ == FnCheck::Watching) {
        return;
    }
    if (!env_.watchFnKey) {
        assign(fnCheck_, FnCheck::NotSeen);
        return;
    }
    const int watch = ++fnWatch_;
    assign(fnSecondsLeft_, static_cast<int>(std::ceil(fnWatchSeconds)));
    fnCountdown_.start();
    assign(fnCheck_, FnCheck::Watching);
    QPointer<Setup> self(this);
    env_.watchFnKey([self, watch] {
        if (self && self->fnWatch_ == watch && self->fnCheck_ == FnCheck::Watching) {
            self->fnSeen();
        }
    });
    runAfter(fnWatchSeconds, [self, watch] {
        if (self && self->fnWatch_ == watch && self->fnCheck_ == FnCheck::Watching) {
            self->stopWatchingFn();
            self->assign(self->fnCheck_, FnCheck::NotSeen);
        }
    });
}

void Setup::fnSeen() {
    stopWatchingFn();
    Prefs::setBool("fnSeen", true);
    assign(fnCheck_, FnCheck::Idle);
    assign(fnOK_, true);
}

void Setup::useRightAlt() {
    if (fnCheck_ == FnCheck::Watching) {
        stopWatchingFn();
    }
    Prefs::setHotkey(Prefs::kHotkeyRightAlt);
    assign(fnCheck_, FnCheck::Idle);
    assign(fnOK_, true);
}

void Setup::cancelFnCheck() {
    if (fnCheck_ != FnCheck::Watching) {
        return;
    }
    stopWatchingFn();
    assign(fnCheck_, FnCheck::Idle);
}

void Setup::stopWatchingFn() {
    ++fnWatch_;
    fnCountdown_.stop();
    // Set quietly: this also runs in the destructor; every caller announces the change.
    fnSecondsLeft_ = 0;
    if (env_.watchFnKey) {
        env_.watchFnKey({});
    }
}

ModelTier Setup::modelTier(ModelRole role) const {
    return chosenTier(role, facts_);
}

void Setup::chooseModel(ModelRole role, ModelTier tier) {
    chooseTier(role, tier);
    emit changed();
    assign(modelsOK_, modelsPresent(downloader_->specs()));
    if (!modelsOK_) {
        if (!downloading_) {
            download();
        }
        return;
    }
    // Back to a file that is still in place: the servers may be running another one.
    if (onModelsReady) {
        onModelsReady();
    }
}

void Setup::openServersHelp() {
    if (env_.openServersHelp) {
        env_.openServersHelp();
    }
}

void Setup::openModelsHelp() {
    if (env_.openModelsHelp) {
        env_.openModelsHelp();
    }
}

void Setup::openMicrophoneHelp() {
    if (env_.openMicrophoneHelp) {
        env_.openMicrophoneHelp();
    }
}

} // namespace vozmo
