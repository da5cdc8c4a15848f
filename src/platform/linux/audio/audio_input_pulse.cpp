#include "audio_input.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <pulse/pulseaudio.h>

namespace vozmo {

namespace {

constexpr auto openTimeout = std::chrono::seconds(3);
constexpr auto statusTimeout = std::chrono::milliseconds(1500);
// A server that accepts the connection but never answers (stopped, or hung) is reported after
// this long; a lost server is looked for again this often.
constexpr pa_usec_t connectLimit = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t retryEvery = 1 * PA_USEC_PER_SEC;
// Small chunks: the first one arrives this soon after the stream starts.
constexpr std::uint32_t chunksPerSecond = 100;

AudioInputError noInput(const std::string& why) {
    return AudioInputError{true, "no hay entrada de audio: " + why};
}

// A timer on the server's loop, `after` from now.
pa_time_event* startTimer(pa_threaded_mainloop* loop, pa_usec_t after, pa_time_event_cb_t callback,
                          void* data) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, after);
    return api->time_new(api, &when, callback, data);
}

void freeTimer(pa_threaded_mainloop* loop, pa_time_event*& timer) {
    if (timer != nullptr) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        api->time_free(timer);
        timer = nullptr;
    }
}

// Holds the loop's lock for a scope. The loop thread only holds it while it dispatches, never
// while it waits for the server, so taking it is brief even with a hung server.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

} // namespace

// Fields under the loop's lock are used on the loop's thread or with the lock held; what the
// main thread reads without waiting on the loop sits under `known`.
struct SoundServer::State {
    pa_threaded_mainloop* loop = nullptr;

    // Under the loop's lock.
    pa_context* context = nullptr;
    pa_time_event* retry = nullptr;
    pa_time_event* connectTimer = nullptr;
    bool stopping = false;
    bool sourceSeen = false; // the source lookup in flight has found it

    // Under `known`.
    mutable std::mutex known;
    mutable std::condition_variable settledChanged;
    bool settled = false;   // the first attempt has an answer
    bool connected = false; // a server answers
    bool haveSource = false;
    std::string sourceName;
    pa_sample_spec spec{};
    std::string why; // why there is no input, for the log line

    void setKnown(bool isConnected, bool hasSource, const std::string& reason) {
        {
            std::lock_guard guard(known);
            settled = true;
            connected = isConnected;
            haveSource = hasSource;
            why = reason;
        }
        settledChanged.notify_all();
    }

    // Loop thread or lock held from here on.
    void connect() {
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Vozmo");
        if (context == nullptr) {
            setKnown(false, false, "no se pudo crear el contexto de PulseAudio");
            scheduleRetry();
            return;
        }
        pa_context_set_state_callback(context, &State::contextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            lost(std::string("servidor de sonido no disponible (") +
                 pa_strerror(pa_context_errno(context)) + ")");
            return;
        }
        connectTimer = startTimer(loop, connectLimit, &State::connectTimedOut, this);
    }

    void dropContext() {
        freeTimer(loop, connectTimer);
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
    }

    void lost(const std::string& reason) {
        freeTimer(loop, connectTimer);
        setKnown(false, false, reason);
        scheduleRetry();
    }

    void scheduleRetry() {
        if (!stopping && retry == nullptr) {
            retry = startTimer(loop, retryEvery, &State::retryNow, this);
        }
    }

    void lookUpSource() {
        pa_operation* op = pa_context_get_server_info(context, &State::serverInfo, this);
        if (op != nullptr) {
            pa_operation_unref(op);
        }
    }

    static void retryNow(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
        auto* self = static_cast<State*>(data);
        api->time_free(event);
        self->retry = nullptr;
        self->dropContext();
        if (!self->stopping) {
            self->connect();
        }
    }

    static void connectTimedOut(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                void* data) {
        auto* self = static_cast<State*>(data);
        api->time_free(event);
        self->connectTimer = nullptr;
        // The attempt goes on: a server that was only slow is taken when it answers.
        self->setKnown(false, false, "el servidor de sonido no responde");
    }

    static void contextState(pa_context* context, void* data) {
        auto* self = static_cast<State*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            freeTimer(self->loop, self->connectTimer);
            pa_context_set_subscribe_callback(context, &State::serverEvent, self);
            pa_operation* op =
                pa_context_subscribe(context,
                                     static_cast<pa_subscription_mask_t>(
                                         PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE),
                                     nullptr, nullptr);
            if (op != nullptr) {
                pa_operation_unref(op);
            }
            self->lookUpSource();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->lost(std::string("servidor de sonido no disponible (") +
                       pa_strerror(pa_context_errno(context)) + ")");
            break;
        default:
            break;
        }
    }

    // A new default source, or a source that came or went: the next capture uses what is
    // default then.
    static void serverEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* data) {
        static_cast<State*>(data)->lookUpSource();
    }

    static void serverInfo(pa_context* context, const pa_server_info* info, void* data) {
        auto* self = static_cast<State*>(data);
        if (info == nullptr || info->default_source_name == nullptr ||
            *info->default_source_name == '\0') {
            self->setKnown(true, false, "no hay fuente de sonido predeterminada");
            return;
        }
        self->sourceSeen = false;
        pa_operation* op = pa_context_get_source_info_by_name(context, info->default_source_name,
                                                              &State::sourceInfo, self);
        if (op != nullptr) {
            pa_operation_unref(op);
        }
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
        auto* self = static_cast<State*>(data);
        if (info != nullptr) {
            self->sourceSeen = true;
            {
                std::lock_guard guard(self->known);
                self->sourceName = info->name;
                self->spec = info->sample_spec;
            }
            self->setKnown(true, true, {});
            return;
        }
        if (eol != 0 && !self->sourceSeen) {
            self->setKnown(true, false, "la fuente predeterminada no existe");
        }
    }
};

namespace {

// A record stream on the default source in its own rate and channel count, as 32-bit floats,
// run by the server's loop thread: its callbacks, and so the chunk handler, run there with the
// loop's lock held.
class PulseAudioInput final : public AudioInput {
public:
    explicit PulseAudioInput(SoundServer::State& server,
                             std::unique_ptr<SoundServer> owned = nullptr)
        : owned_(std::move(owned)), server_(server) {}
    ~PulseAudioInput() override { stop(); }

    std::optional<AudioInputError> open(AudioFormat& format) override {
        if (owned_) {
            owned_->waitSettled(std::chrono::duration_cast<std::chrono::milliseconds>(openTimeout));
        }
        {
            std::lock_guard guard(server_.known);
            if (!server_.connected) {
                return noInput(server_.settled
                                   ? server_.why
                                   : std::string("el servidor de sonido aún no responde"));
            }
            if (!server_.haveSource) {
                return noInput(server_.why);
            }
            sourceName_ = server_.sourceName;
            spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32NE, server_.spec.rate, server_.spec.channels};
        }
        if (!pa_sample_spec_valid(&spec_)) {
            return noInput("la fuente no tiene un formato válido");
        }
        format.channels = spec_.channels;
        format.sampleRate = static_cast<double>(spec_.rate);
        return std::nullopt;
    }

    std::optional<AudioInputError> start(ChunkHandler handler) override {
        if (sourceName_.empty() || server_.loop == nullptr) {
            return noInput("no hay entrada de audio abierta");
        }
        stop();
        LoopLock lock(server_.loop);
        pa_context* context = server_.context;
        if (context == nullptr || pa_context_get_state(context) != PA_CONTEXT_READY) {
            return noInput("servidor de sonido no disponible");
        }
        handler_ = std::move(handler);
        broken_ = false;
        stream_ = pa_stream_new(context, "Dictado", &spec_, nullptr);
        if (stream_ == nullptr) {
            return failure(context, "no se pudo crear la captura");
        }
        pa_stream_set_read_callback(stream_, &PulseAudioInput::readable, this);
        pa_stream_set_state_callback(stream_, &PulseAudioInput::stateChanged, this);
        // A recording stays on the source it began with: the server would otherwise move it
        // to whatever becomes the default (a monitor, when the microphone is unplugged).
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(
            pa_frame_size(&spec_) * std::max<std::uint32_t>(1, spec_.rate / chunksPerSecond));
        if (pa_stream_connect_record(stream_, sourceName_.c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                    PA_STREAM_DONT_MOVE)) < 0) {
            auto error = failure(context, "no se pudo conectar la captura");
            release();
            return error;
        }
        startTimer_ = startTimer(server_.loop, connectLimit, &PulseAudioInput::startTimedOut, this);
        return std::nullopt;
    }

    void stop() override {
        if (server_.loop == nullptr) {
            return;
        }
        {
            LoopLock lock(server_.loop);
            release();
        }
        handler_ = nullptr;
    }

private:
    // Lock held.
    void release() {
        freeTimer(server_.loop, startTimer_);
        if (stream_ != nullptr) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }

    static AudioInputError failure(pa_context* context, const std::string& what) {
        return AudioInputError{false, what + " (" + pa_strerror(pa_context_errno(context)) + ")"};
    }

    // Loop thread: the stream will deliver nothing more.
    void broke(const std::string& why) {
        freeTimer(server_.loop, startTimer_);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (!broken_ && onBroken) {
            broken_ = true;
            onBroken(why);
        }
    }

    static void startTimedOut(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                              void* data) {
        auto* self = static_cast<PulseAudioInput*>(data);
        api->time_free(event);
        self->startTimer_ = nullptr;
        if (self->stream_ != nullptr && pa_stream_get_state(self->stream_) != PA_STREAM_READY) {
            self->broke("la captura no empezó a tiempo");
        }
    }

    // A sound server that dies or restarts fails the stream; without this the recording would
    // go on, silent, until the key is let go.
    static void stateChanged(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseAudioInput*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            freeTimer(self->server_.loop, self->startTimer_);
            return;
        }
        if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) {
            return;
        }
        self->broke(std::string("la captura se interrumpió (") +
                    pa_strerror(pa_context_errno(pa_stream_get_context(stream))) + ")");
    }

    static void readable(pa_stream* stream, size_t, void* data) {
        auto* self = static_cast<PulseAudioInput*>(data);
        const size_t frameBytes = pa_frame_size(&self->spec_);
        const void* bytes = nullptr;
        size_t length = 0;
        while (pa_stream_readable_size(stream) > 0) {
            if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) {
                return;
            }
            // A null pointer with a length is a hole in the stream: nothing to hand on.
            if (bytes != nullptr && self->handler_) {
                const size_t frames = length / frameBytes;
                self->handler_(std::span<const float>(static_cast<const float*>(bytes),
                                                      frames * self->spec_.channels));
            }
            pa_stream_drop(stream);
        }
    }

    std::unique_ptr<SoundServer> owned_; // first: the connection outlives the stream
    SoundServer::State& server_;
    std::string sourceName_;
    pa_sample_spec spec_{};
    // Under the loop's lock once started.
    pa_stream* stream_ = nullptr;
    pa_time_event* startTimer_ = nullptr;
    ChunkHandler handler_;
    bool broken_ = false;
};

} // namespace

SoundServer::SoundServer() : state_(std::make_unique<State>()) {
    state_->loop = pa_threaded_mainloop_new();
    if (state_->loop == nullptr) {
        state_->setKnown(false, false, "no se pudo crear el bucle de PulseAudio");
        return;
    }
    pa_threaded_mainloop_set_name(state_->loop, "vozmo-pulse");
    LoopLock lock(state_->loop);
    if (pa_threaded_mainloop_start(state_->loop) < 0) {
        state_->setKnown(false, false, "no se pudo iniciar el bucle de PulseAudio");
        return;
    }
    state_->connect();
}

SoundServer::~SoundServer() {
    if (state_->loop == nullptr) {
        return;
    }
    {
        LoopLock lock(state_->loop);
        state_->stopping = true;
        freeTimer(state_->loop, state_->retry);
        state_->dropContext();
    }
    pa_threaded_mainloop_stop(state_->loop);
    pa_threaded_mainloop_free(state_->loop);
}

std::unique_ptr<AudioInput> SoundServer::makeInput() {
    return std::make_unique<PulseAudioInput>(*state_);
}

MicrophoneStatus SoundServer::microphoneStatus() const {
    std::lock_guard guard(state_->known);
    return state_->connected && state_->haveSource ? MicrophoneStatus::authorized
                                                   : MicrophoneStatus::restricted;
}

bool SoundServer::running() const {
    std::lock_guard guard(state_->known);
    return state_->connected;
}

void SoundServer::waitSettled(std::chrono::milliseconds limit) const {
    std::unique_lock guard(state_->known);
    state_->settledChanged.wait_for(guard, limit, [this] { return state_->settled; });
}

std::unique_ptr<AudioInput> makeAudioInput() {
    auto server = std::make_unique<SoundServer>();
    SoundServer::State& state = *server->state_;
    return std::make_unique<PulseAudioInput>(state, std::move(server));
}

bool soundServerRunning() {
    SoundServer server;
    server.waitSettled(std::chrono::duration_cast<std::chrono::milliseconds>(statusTimeout));
    return server.running();
}

MicrophoneStatus microphoneStatus() {
    SoundServer server;
    server.waitSettled(std::chrono::duration_cast<std::chrono::milliseconds>(statusTimeout));
    return server.microphoneStatus();
}

} // namespace vozmo
