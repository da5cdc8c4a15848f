#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

// Shared by the fuzz targets, which run both under libFuzzer and as corpus replays in the
// ordinary test suite.
namespace vozmo::fuzz {

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Two inputs from one: the bytes before the first NUL and those after it (empty without one).
// A separator keeps the seed files readable and lets the fuzzer move the boundary freely.
inline std::pair<std::string_view, std::string_view> splitAtNul(std::string_view bytes) {
    const auto at = bytes.find('\0');
    if (at == std::string_view::npos) {
        return {bytes, {}};
    }
    return {bytes.substr(0, at), bytes.substr(at + 1)};
}

// A violated property is a finding like a crash: abort so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
    std::abort();
}

// A private folder for the process, with the configuration pointed at it; removed at exit.
const std::filesystem::path& privateHome();

} // namespace vozmo::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::vozmo::fuzz::fail(#condition, __FILE__, __LINE__);                                   \
        }                                                                                          \
    } while (false)
