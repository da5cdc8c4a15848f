// The preferences file as found on disk: read through every setting, then written once.
#include "config.h"
#include "fuzz_support.h"
#include "prefs.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

namespace {

std::string readBack(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The deepest nesting of arrays and objects in JSON text, counted up to `limit`.
int nesting(std::string_view text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size() && deepest < limit; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vozmo::fuzz::privateHome();
    const auto& file = vozmo::config().prefsFile;
    const std::string_view bytes = vozmo::fuzz::bytesOf(data, size);
    // Each input is a first start: the store keeps the last readable values while a file is
    // broken, so it must see the file gone before the next input replaces it.
    std::filesystem::remove(file);
    (void)vozmo::Prefs::polish();
    {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    (void)vozmo::Prefs::polish();
    (void)vozmo::Prefs::sounds();
    (void)vozmo::Prefs::hotkey();
    (void)vozmo::Prefs::language();
    (void)vozmo::Prefs::hotkeyName();
    (void)vozmo::Prefs::boolForKey("setupShown");
    (void)vozmo::Prefs::object("fnKeyVerified");

    vozmo::Prefs::setSounds(false);
    const auto written = nlohmann::json::parse(readBack(file), nullptr, false);
    FUZZ_CHECK(written.is_object() && written.contains("sounds"));
    FUZZ_CHECK(!vozmo::Prefs::sounds());
    // Beyond any sane nesting values may be dropped; below it the write keeps every other key
    // of a well-formed file, as it serialises.
    if (nesting(bytes, 32) < 32) {
        auto expected = nlohmann::json::parse(bytes, nullptr, false);
        if (!expected.is_object()) {
            expected = nlohmann::json::object();
        }
        expected = nlohmann::json::parse(expected.dump());
        expected["sounds"] = false;
        FUZZ_CHECK(written == expected);
    }
    return 0;
}
