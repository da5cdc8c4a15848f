#pragma once

#include <curl/curl.h>

#include <memory>

namespace vozmo {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// A new transfer handle, the library set up first (once per process); null when curl cannot
// make one. Every transfer of the application starts here.
CurlEasy newCurlEasy();

} // namespace vozmo
