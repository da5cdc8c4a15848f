#include "setup.h"

#include "find_binary.h"
#include "main_thread.h"
#include "model_files.h"
#include "prefs.h"

#include <QPointer>

namespace vozmo {

bool fnConfigured() {
    return Prefs::boolForKey("fnSeen");
}

Setup::Setup(SetupEnvironment environment, std::unique_ptr<Downloader> downloader, QObject* parent)
    : QObject(parent), env_(std::move(environment)),
      downloader_(downloader ? std::move(downloader) : std::make_unique<Downloader>()) {
    modelsOK_ = modelsPresent(downloader_->specs());
    micOK_ = micStatus() == kMicAuthorized;
    axOK_ = keyAccessOk();
    fnOK_ = fnConfigured() || Prefs::hotkey() == "ropt";
    whisperServerFound_ = programFound("whisper-server");
    llmServerFound_ = programFound("llama-server");
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &Setup::refresh);
    timer_.start();
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
    // The user may copy the programs in while the window is open.
    assign(whisperServerFound_, programFound("whisper-server"));
    assign(llmServerFound_, programFound("llama-server"));
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
    downloader_->onFinish = [this](bool ok) {
        assign(downloading_, false);
        assign(modelsOK_, modelsPresent(downloader_->specs()));
        assign(downloadFailed_, !ok);
        if (ok && modelsOK_ && onModelsReady) {
            onModelsReady();
        }
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

void Setup::openAccessibility() {
    if (!keyAccessOk() && env_.openPermissionsHelp) {
        env_.openPermissionsHelp();
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
    Prefs::setHotkey("ropt");
    assign(fnCheck_, FnCheck::Idle);
    assign(fnOK_, true);
}

void Setup::stopWatchingFn() {
    ++fnWatch_;
    if (env_.watchFnKey) {
        env_.watchFnKey({});
    }
}

void Setup::openServersHelp() {
    if (env_.openServersHelp) {
        env_.openServersHelp();
    }
}

} // namespace vozmo
