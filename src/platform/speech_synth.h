#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// Speaks `text` with the system speech synthesiser and returns 16 kHz mono samples in
// [-1, 1]. `voice` is one of the voice names "Mónica" (Spain) or "Paulina" (Latin America);
// no voice means the synthesiser's default. Absent when the synthesiser fails or is missing.
// `workDir` is a private folder for the synthesiser's own file.
std::optional<std::vector<float>> synthesizeSpeech(const std::string& text,
                                                   const std::optional<std::string>& voice,
                                                   const std::filesystem::path& workDir);

} // namespace vozmo
