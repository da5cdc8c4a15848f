// The user's dictionary file and its corrections applied to a dictation.
// Input: the dictionary file, a NUL, the dictated text.
#include "fuzz_support.h"
#include "unicode_text.h"
#include "vocabulary.h"

#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [file, text] = vozmo::fuzz::splitAtNul(vozmo::fuzz::bytesOf(data, size));
    const auto path = vozmo::fuzz::privateHome() / "diccionario.txt";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    const vozmo::Vocabulary vocabulary = vozmo::Vocabulary::load(path);
    for (const auto& word : vocabulary.words) {
        FUZZ_CHECK(!word.empty());
        FUZZ_CHECK(word.find_first_of("\r\n") == std::string::npos);
    }
    for (const auto& [from, to] : vocabulary.replacements) {
        FUZZ_CHECK(!from.empty());
    }
    (void)vocabulary.whisperPrompt();

    const std::string applied = vocabulary.apply(text);
    if (!vocabulary.replacements.empty()) {
        FUZZ_CHECK(vozmo::text::isValidUtf8(applied));
    }
    // The same corrections compiled afresh must give the same text as the ones load() compiled.
    vozmo::Vocabulary copy;
    copy.words = vocabulary.words;
    copy.replacements = vocabulary.replacements;
    FUZZ_CHECK(copy.apply(text) == applied);
    return 0;
}
