#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vozmo {

// Every failure a component reports to another: what went wrong, for the code that decides,
// and a detail for the log (never shown as it is, never holding dictated text).
struct Error {
    enum class Kind {
        speechServerMissing,   // no whisper-server launched, so nothing can transcribe
        speechServerPortBusy,  // detail: the port another program holds
        transcriptionFailed,   // the speech server failed, went away or gave an unreadable answer
        transcriptionTimedOut, // no answer within the limit set by the audio's length
        speechServerNotReady,  // launched but not ready in time, or given up after crashes
        nothingUnderstood,     // the transcript was empty once cleaned
        noMicrophone,          // no sound server or default source
        microphoneLost,        // the sound server went away while recording; detail: why
        polishFailed,          // the language model gave no usable answer; the plain text is kept
        pasteFailed,           // the paste stroke could not be sent
        cancelled, // a stop request ended the work; the user asked for it, so nothing is shown
        polishServerPortBusy, // detail: the port another program holds
        processNotStarted,    // a program could not be started; detail: why
        downloadFailed,       // a model file did not arrive whole; detail: which and why
        speechServerGaveUp,   // whisper-server will not come up in this run; detail: why
        polishServerGaveUp,   // llama-server will not come up in this run; detail: why
    };

    Kind kind;
    std::string detail;

    bool operator==(const Error&) const = default;
};

// The Spanish text the user sees for an error; empty for those that show nothing of their own.
std::string userMessage(const Error& error);
// What the user can do about it, as a sentence; empty where there is nothing to do.
std::string userAdvice(const Error& error);

// A value or the error that prevented it. Access the one that is there only.
template <typename T> class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Success without a value. (Not "Status": Xlib defines that name as a macro.)
struct Done {
    bool operator==(const Done&) const = default;
};
using Outcome = Result<Done>;

} // namespace vozmo
