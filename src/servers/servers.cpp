#include "servers.h"

#include "child_process.h"
#include "config.h"
#include "http.h"
#include "launch_records.h"
#include "log.h"
#include "main_thread.h"
#include "polish_speed.h"
#include "server.h"
#include "vocabulary.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

namespace vozmo {

namespace {

constexpr auto kReadinessLimit = std::chrono::seconds(300);
// The warm-up evaluates the whole prompt prefix from a cold cache: on a slow processor that
// takes far longer than a dictation's polish may.
constexpr double kWarmUpLimitSeconds = 300;
constexpr auto kSpeechIdleWait = std::chrono::seconds(1);

} // namespace

struct Servers::Core : std::enable_shared_from_this<Servers::Core> {
    // Main thread only.
    std::function<void()> onChange;
    std::shared_ptr<PolishSpeed> polishSpeed = std::make_shared<PolishSpeed>();
    std::shared_ptr<Server> speech;
    std::shared_ptr<Server> polish;
    std::mutex lock;
    bool swept = false;

    std::array<Server*, 2> both() const { return {speech.get(), polish.get()}; }
    Server::Hooks hooks();
    void warmUp(std::stop_token stop);
};

Server::Hooks Servers::Core::hooks() {
    Server::Hooks hooks;
    hooks.changed = [weak = weak_from_this()] {
        postToMain([weak] {
            if (auto core = weak.lock(); core && core->onChange) {
                core->onChange();
            }
        });
    };
    return hooks;
}

// Loads the model's weights and the prompt prefix before the first dictation, once no
// transcription runs, and keeps the speed the server reports. A warm-up without an answer
// leaves polishing off: a dictation would only queue behind a server that does not answer.
void Servers::Core::warmUp(std::stop_token stop) {
    // A new model, or the same one restarted, is measured afresh.
    polishSpeed->reset();
    while (!polishSpeed->waitForSpeechIdle(kSpeechIdleWait)) {
        if (stop.stop_requested()) {
            return;
        }
    }
    auto vocabulary = Vocabulary::load();
    auto answer =
        polishMeasured(*polishSpeed, "hola qué tal esto es una prueba de arranque",
                       vocabulary.words, LLM_PORT, kWarmUpLimitSeconds, stop, polish->apiKey());
    if (stop.stop_requested()) {
        return;
    }
    if (!answer) {
        log("IA: falló el calentamiento (" + answer.error().detail + "); se dicta sin pulir");
        return;
    }
    polishSpeed->setWarmedUp(true);
    if (auto timings = polishSpeed->speeds()) {
        char line[160];
        std::snprintf(line, sizeof line, "IA: %.0f tokens/s de entrada, %.1f tokens/s de salida",
                      timings->promptPerSecond, timings->predictedPerSecond);
        log(line);
    }
}

namespace {

// A library that ends the process with exit() goes past every owner's clean-up, and the servers
// would run on without us. exit() still calls its handlers, so every supervisor alive then is
// stopped from one; the lost display's handler stops them the same way. atexit takes no
// context: hence this one registry, of the supervisors and nothing else; each keeps its servers'
// state itself. The supervisors' threads are joined there too: exit() goes on to destroy static
// objects, which they must not be using by then.
struct LiveServers {
    std::mutex lock;
    std::set<Servers*> all;
};

LiveServers& liveServers() {
    // Built before the handler is registered, so it is destroyed only after the handler ran.
    static LiveServers live;
    static const bool registered = [] {
        // No waiting there: exit() must not hang on a server slow to go.
        return std::atexit([] { Servers::stopAll(std::chrono::milliseconds(0)); }) == 0;
    }();
    (void)registered;
    return live;
}

} // namespace

void Servers::stopAll(std::chrono::milliseconds limit) {
    std::vector<std::shared_ptr<ChildProcess>> running;
    std::vector<std::shared_ptr<Server>> servers;
    {
        LiveServers& live = liveServers();
        std::lock_guard guard(live.lock);
        for (Servers* one : live.all) {
            for (const auto& server : {one->core_->speech, one->core_->polish}) {
                server->stop();
                server->endThreads();
                servers.push_back(server);
                if (auto process = server->process()) {
                    running.push_back(std::move(process));
                }
            }
        }
    }
    // Their watcher threads notice the exits; nothing else is left to wake us.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline &&
           std::any_of(running.begin(), running.end(),
                       [](const auto& process) { return process->isRunning(); })) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A server that ends after this goes unnoticed; its record is swept by the next run.
    for (auto& server : servers) {
        server->close();
    }
}

Servers::Servers() : Servers(Limits{kReadinessLimit}) {}

Servers::Servers(Limits limits) : core_(std::make_shared<Core>()) {
    core_->speech = std::make_shared<Server>(kSpeechServer, core_->hooks(), limits.readiness);
    Server::Hooks polishHooks = core_->hooks();
    // The probe's thread runs it, and the supervisor joins that thread before the core goes.
    polishHooks.ready = [core = core_.get()](std::stop_token stop) { core->warmUp(stop); };
    core_->polish =
        std::make_shared<Server>(kPolishServer, std::move(polishHooks), limits.readiness);
    // Before the exit handler is registered: the probes' requests must end before their HTTP
    // library is cleaned up at exit.
    httpSetUp();
    LiveServers& live = liveServers();
    std::lock_guard guard(live.lock);
    live.all.insert(this);
}

Servers::~Servers() {
    {
        LiveServers& live = liveServers();
        std::lock_guard guard(live.lock);
        live.all.erase(this);
    }
    for (Server* server : core_->both()) {
        server->release();
    }
}

bool Servers::whisperAvailable() const {
    return core_->speech->available();
}

bool Servers::llmAvailable() const {
    return core_->polish->available();
}

bool Servers::whisperReady() const {
    return core_->speech->ready();
}

bool Servers::llmReady() const {
    return core_->polish->ready();
}

bool Servers::whisperGaveUp() const {
    return core_->speech->state() == Server::State::gaveUp;
}

bool Servers::llmGaveUp() const {
    return core_->polish->state() == Server::State::gaveUp;
}

bool Servers::whisperLaunched() const {
    return core_->speech->launched();
}

bool Servers::whisperPortBusy() const {
    return core_->speech->state() == Server::State::portBusy;
}

bool Servers::llmPortBusy() const {
    return core_->polish->state() == Server::State::portBusy;
}

Outcome Servers::portsFree() const {
    for (const Server* server : core_->both()) {
        if (server->state() == Server::State::portBusy) {
            return Error{server->role().portBusy, std::to_string(server->role().port)};
        }
    }
    return Done{};
}

Outcome Servers::problem() const {
    if (Outcome ports = portsFree(); !ports) {
        return ports;
    }
    for (const Server* server : core_->both()) {
        if (server->state() == Server::State::gaveUp) {
            return Error{server->role().gaveUp, {}};
        }
    }
    return Done{};
}

bool Servers::whisperIsOurs() const {
    return core_->speech->answersAreOurs();
}

std::string Servers::llmApiKey() const {
    return core_->polish->apiKey();
}

void Servers::setOnChange(std::function<void()> onChange) {
    core_->onChange = std::move(onChange);
}

bool Servers::inUseByAnotherRun() const {
    return anotherRunsServers();
}

void Servers::killOrphans() {
    sweepLeftoverServers();
}

void Servers::start() {
    bool sweep = false;
    {
        std::lock_guard guard(core_->lock);
        sweep = !core_->swept;
        core_->swept = true;
    }
    if (sweep) {
        killOrphans();
    }
    for (Server* server : core_->both()) {
        server->start();
    }
}

void Servers::reloadChangedModels() {
    {
        std::lock_guard guard(core_->lock);
        if (!core_->swept) {
            return;
        }
    }
    for (Server* server : core_->both()) {
        server->reloadIfModelChanged();
    }
    // A server whose model has only now arrived.
    start();
}

std::shared_ptr<PolishSpeed> Servers::polishSpeed() const {
    return core_->polishSpeed;
}

void Servers::stop() {
    for (Server* server : core_->both()) {
        server->stop();
    }
}

Servers::Wait Servers::waitForWhisper(std::stop_token stop, std::chrono::milliseconds limit) {
    return core_->speech->waitUntilReady(stop, limit);
}

} // namespace vozmo
