#include "audio_input.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include <pulse/pulseaudio.h>

namespace vozmo {
namespace {

using Clock = std::chrono::steady_clock;

// Opening a session waits this long at most for the server; the status probe less, since the
// setup window asks for it on the main thread.
constexpr auto openTimeout = std::chrono::seconds(3);
constexpr auto statusTimeout = std::chrono::milliseconds(1500);
constexpr std::uint32_t chunkFrames = 1024;

// Runs the loop on the calling thread until `done` holds, the deadline passes or the loop fails.
template <typename Done>
bool iterateUntil(pa_mainloop* loop, Done done, Clock::time_point deadline) {
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        if (pa_mainloop_prepare(loop, static_cast<int>(left)) < 0 || pa_mainloop_poll(loop) < 0 ||
            pa_mainloop_dispatch(loop) < 0) {
            return false;
        }
    }
    return true;
}

AudioInputError noInput(const std::string& why) {
    return AudioInputError{true, "no hay entrada de audio: " + why};
}

// A main loop with a context connected to the server, and the default source it reports.
class Connection {
public:
    Connection() : loop_(pa_mainloop_new()) {}
    ~Connection() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_ != nullptr) {
            pa_mainloop_free(loop_);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    const std::string& sourceName() const { return sourceName_; }
    const pa_sample_spec& sourceSpec() const { return sourceSpec_; }

    // Connects (never spawning a server) and looks up the default source.
    std::optional<AudioInputError> open(Clock::time_point deadline) {
        if (auto error = connectServer(deadline)) {
            return error;
        }
        return findDefaultSource(deadline);
    }

    // Only connects: whether a sound server answers, default source or not.
    std::optional<AudioInputError> connectServer(Clock::time_point deadline) {
        if (loop_ == nullptr) {
            return AudioInputError{false, "no se pudo crear el bucle de PulseAudio"};
        }
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Vozmo");
        if (context_ == nullptr) {
            return AudioInputError{false, "no se pudo crear el contexto de PulseAudio"};
        }
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return noInput(std::string("servidor de sonido no disponible (") +
                           pa_strerror(pa_context_errno(context_)) + ")");
        }
        const bool settled = iterateUntil(
            loop_,
            [this] {
                return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
                       pa_context_get_state(context_) == PA_CONTEXT_READY;
            },
            deadline);
        if (!settled || pa_context_get_state(context_) != PA_CONTEXT_READY) {
            const int error = pa_context_errno(context_);
            return noInput(std::string("servidor de sonido no disponible (") +
                           (settled ? pa_strerror(error) : "sin respuesta") + ")");
        }
        return std::nullopt;
    }

private:
    std::optional<AudioInputError> findDefaultSource(Clock::time_point deadline) {
        struct Lookup {
            bool serverDone = false;
            bool sourceDone = false;
            bool found = false;
            std::string name;
            pa_sample_spec spec{};
        } lookup;
        pa_operation* op = pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* l = static_cast<Lookup*>(data);
                if (info != nullptr && info->default_source_name != nullptr) {
                    l->name = info->default_source_name;
                }
                l->serverDone = true;
            },
            &lookup);
        if (op == nullptr) {
            return noInput("el servidor de sonido no responde");
        }
        const bool answered = iterateUntil(
            loop_, [&] { return lookup.serverDone; }, deadline);
        pa_operation_cancel(op);
        pa_operation_unref(op);
        if (!answered) {
            return noInput("el servidor de sonido no responde");
        }
        if (lookup.name.empty()) {
            return noInput("no hay fuente de sonido predeterminada");
        }
        op = pa_context_get_source_info_by_name(
            context_, lookup.name.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* l = static_cast<Lookup*>(data);
                if (info != nullptr) {
                    l->found = true;
                    l->spec = info->sample_spec;
                }
                if (eol != 0) {
                    l->sourceDone = true;
                }
            },
            &lookup);
        if (op == nullptr) {
            return noInput("el servidor de sonido no responde");
        }
        const bool listed = iterateUntil(
            loop_, [&] { return lookup.sourceDone; }, deadline);
        pa_operation_cancel(op);
        pa_operation_unref(op);
        if (!listed) {
            return noInput("el servidor de sonido no responde");
        }
        if (!lookup.found) {
            return noInput("la fuente predeterminada \"" + lookup.name + "\" no existe");
        }
        sourceName_ = lookup.name;
        sourceSpec_ = lookup.spec;
        return std::nullopt;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string sourceName_;
    pa_sample_spec sourceSpec_{};
};

// A record stream on the default source in its own rate and channel count, as 32-bit floats.
// The main loop runs on the capture thread once started, and on the caller's thread before.
class PulseAudioInput final : public AudioInput {
public:
    ~PulseAudioInput() override {
        stop();
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }

    std::optional<AudioInputError> open(AudioFormat& format) override {
        if (auto error = connection_.open(Clock::now() + openTimeout)) {
            return error;
        }
        const pa_sample_spec& native = connection_.sourceSpec();
        format.channels = native.channels;
        format.sampleRate = static_cast<double>(native.rate);
        spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32NE, native.rate, native.channels};
        return std::nullopt;
    }

    std::optional<AudioInputError> start(ChunkHandler handler) override {
        if (connection_.context() == nullptr || !pa_sample_spec_valid(&spec_)) {
            return AudioInputError{true, "no hay entrada de audio abierta"};
        }
        handler_ = std::move(handler);
        stream_ = pa_stream_new(connection_.context(), "Dictado", &spec_, nullptr);
        if (stream_ == nullptr) {
            return failure("no se pudo crear la captura");
        }
        // A recording stays on the source it began with: the server would otherwise move it
        // to whatever becomes the default (a monitor, when the microphone is unplugged).
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(chunkFrames * pa_frame_size(&spec_));
        if (pa_stream_connect_record(stream_, connection_.sourceName().c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                    PA_STREAM_DONT_MOVE)) < 0) {
            return failure("no se pudo conectar la captura");
        }
        const bool settled = iterateUntil(
            connection_.loop(),
            [this] {
                return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
                       pa_stream_get_state(stream_) == PA_STREAM_READY;
            },
            Clock::now() + openTimeout);
        if (!settled || pa_stream_get_state(stream_) != PA_STREAM_READY) {
            return failure(settled ? "la captura falló al empezar"
                                   : "la captura no empezó a tiempo");
        }
        // Set only now, so every chunk reaches the handler on the capture thread and never
        // inside the settling loop above; what arrived meanwhile waits in the stream.
        pa_stream_set_read_callback(stream_, &PulseAudioInput::readable, this);
        pa_stream_set_state_callback(stream_, &PulseAudioInput::stateChanged, this);
        stopping_ = false;
        thread_ = std::thread([this] {
            while (!stopping_.load()) {
                if (pa_mainloop_iterate(connection_.loop(), 1, nullptr) < 0) {
                    break;
                }
            }
        });
        return std::nullopt;
    }

    void stop() override {
        if (!thread_.joinable()) {
            return;
        }
        stopping_ = true;
        pa_mainloop_wakeup(connection_.loop());
        thread_.join();
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
    }

private:
    AudioInputError failure(const std::string& what) const {
        return AudioInputError{
            false, what + " (" + pa_strerror(pa_context_errno(connection_.context())) + ")"};
    }

    // A sound server that dies or restarts fails the stream; without this the recording would
    // go on, silent, until the key is let go.
    static void stateChanged(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseAudioInput*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) {
            return;
        }
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        if (!self->stopping_.load() && self->onBroken) {
            self->onBroken(std::string("la captura se interrumpió (") +
                           pa_strerror(pa_context_errno(self->connection_.context())) + ")");
        }
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

    Connection connection_;
    pa_sample_spec spec_{};
    pa_stream* stream_ = nullptr;
    ChunkHandler handler_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace

std::unique_ptr<AudioInput> makeAudioInput() {
    return std::make_unique<PulseAudioInput>();
}

bool soundServerRunning() {
    Connection connection;
    return !connection.connectServer(Clock::now() + statusTimeout).has_value();
}

MicrophoneStatus microphoneStatus() {
    Connection connection;
    return connection.open(Clock::now() + statusTimeout) ? MicrophoneStatus::restricted
                                                         : MicrophoneStatus::authorized;
}

} // namespace vozmo
