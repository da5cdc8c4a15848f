// The preferences file as found on disk: read through every setting, then written once.
#include "config.h"
#include "fuzz_support.h"
#include "prefs.h"

#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

namespace {

std::string readBack(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vozmo::fuzz::privateHome();
    const auto& file = vozmo::config().prefsFile;
    const std::string_view bytes = vozmo::fuzz::bytesOf(data, size);
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
    // The write keeps every other key: what a well-formed file held, as it serialises.
    auto expected = nlohmann::json::parse(bytes, nullptr, false);
    if (!expected.is_object()) {
        expected = nlohmann::json::object();
    }
    expected = nlohmann::json::parse(expected.dump());
    expected["sounds"] = false;
    const auto written = nlohmann::json::parse(readBack(file), nullptr, false);
    FUZZ_CHECK(written == expected);
    FUZZ_CHECK(!vozmo::Prefs::sounds());
    return 0;
}
