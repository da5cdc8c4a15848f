#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace vozmo {

// One prepared HTTP request: method, headers, body and its own time limit.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    double timeoutSeconds = 60.0;
    // A stop request ends the exchange at once, whatever stage it is in.
    std::stop_token stop;
};

// status is 0 and body absent when no HTTP answer came (refused, timed out, broken, stopped).
struct HttpResponse {
    // Why no answer came.
    enum class Failure {
        none,
        refused,  // nothing listens there
        timedOut, // the request's time limit passed
        tooLarge, // the answer passed the size limit
        broken,   // the exchange failed half-way, or could not be set up
        stopped,  // the request's stop token ended it
    };
    int status = 0;
    std::optional<std::string> body;
    bool stopped = false; // the request's stop token ended it
    Failure failure = Failure::none;
};

// Why no answer came, in a few words for the log.
const char* failureText(HttpResponse::Failure failure);

// Sets up the HTTP library, which http() otherwise does on first use. Its TLS library registers a
// clean-up with atexit; a component that ends its requests from an exit handler of its own calls
// this first, so that clean-up runs after that handler (handlers run in reverse order).
void httpSetUp();

// Blocking exchange; never call it on the main thread. Safe from several threads at once.
HttpResponse http(const HttpRequest& request);

} // namespace vozmo
