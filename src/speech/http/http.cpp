#include "http.h"

#include "curl_handle.h"

#include <memory>
#include <mutex>

namespace vozmo {

namespace {

void ensureCurlReady() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Every answer we read is a few kilobytes; a runaway or hostile server must not fill memory.
constexpr std::size_t kMaxBodyBytes = 4 * 1024 * 1024;

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<std::string*>(target);
    if (size * count > kMaxBodyBytes - body->size()) {
        return 0; // curl ends the transfer with a write error
    }
    body->append(data, size * count);
    return size * count;
}

struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

const char* failureText(HttpResponse::Failure failure) {
    using Failure = HttpResponse::Failure;
    switch (failure) {
    case Failure::refused:
        return "conexión rechazada";
    case Failure::timedOut:
        return "tiempo agotado";
    case Failure::tooLarge:
        return "respuesta demasiado grande";
    case Failure::broken:
        return "intercambio cortado";
    case Failure::stopped:
        return "detenida";
    case Failure::none:
        break;
    }
    return "sin código de estado";
}

namespace {

HttpResponse failed(HttpResponse::Failure failure) {
    HttpResponse response;
    response.failure = failure;
    response.stopped = failure == HttpResponse::Failure::stopped;
    return response;
}

HttpResponse::Failure failureOf(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return HttpResponse::Failure::refused;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpResponse::Failure::timedOut;
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return HttpResponse::Failure::tooLarge;
    default:
        return HttpResponse::Failure::broken;
    }
}

} // namespace

CurlEasy newCurlEasy() {
    ensureCurlReady();
    return CurlEasy(curl_easy_init());
}

void httpSetUp() {
    ensureCurlReady();
}

HttpResponse http(const HttpRequest& request) {
    CurlEasy curl = newCurlEasy();
    if (!curl) {
        return failed(HttpResponse::Failure::broken);
    }
    CURL* h = curl.get();
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const auto& [name, value] : request.headers) {
        curl_slist* grown = curl_slist_append(headers.get(), (name + ": " + value).c_str());
        if (grown == nullptr) {
            return failed(HttpResponse::Failure::broken);
        }
        headers.release();
        headers.reset(grown);
    }
    // An empty Expect stops curl from waiting for "100 Continue" before large uploads.
    curl_slist* grown = curl_slist_append(headers.get(), "Expect:");
    if (grown != nullptr) {
        headers.release();
        headers.reset(grown);
    }

    std::string body;
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method != "GET" || !request.body.empty()) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
    if (request.method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    // curl reads 0 as "no limit": a limit below a millisecond must still be a limit.
    const double limitMs = request.timeoutSeconds * 1000.0;
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limitMs >= 1.0 ? static_cast<long>(limitMs) : 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // timeouts without SIGALRM: safe in threads
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*"); // our servers are local; never via a proxy
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));

    // The multi interface lets a stop request wake the wait at once; curl_easy_perform would
    // notice it only at its next progress call, up to a second later.
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK) {
        return failed(HttpResponse::Failure::broken);
    }
    CURLM* m = multi.get();
    std::stop_callback wake(request.stop, [m] { curl_multi_wakeup(m); });
    CURLcode result = CURLE_OK;
    bool stopped = false;
    for (;;) {
        if (request.stop.stop_requested()) {
            stopped = true;
            break;
        }
        int running = 0;
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            result = CURLE_RECV_ERROR;
            while (CURLMsg* message = curl_multi_info_read(m, &left)) {
                if (message->msg == CURLMSG_DONE) {
                    result = message->data.result;
                }
            }
            break;
        }
        if (curl_multi_poll(m, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(m, h);
    if (stopped) {
        return failed(HttpResponse::Failure::stopped);
    }
    if (result != CURLE_OK) {
        return failed(failureOf(result));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) {
        return failed(HttpResponse::Failure::broken);
    }
    HttpResponse response;
    response.status = static_cast<int>(status);
    response.body = std::move(body);
    return response;
}

} // namespace vozmo
