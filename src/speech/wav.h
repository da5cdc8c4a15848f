#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace vozmo {

// A complete 16 kHz mono 16-bit PCM WAV file in memory: the 44-byte header, then the samples
// (nominally -1.0 ... 1.0) at full scale +-32767. Absent when the input is so long that the sizes
// would not fit the header's 32-bit fields.
std::optional<std::string> wavData(std::span<const float> samples);

// The size of that file for `samples` samples; absent when the header could not hold it.
std::optional<std::size_t> wavBytes(std::size_t samples);
// Writes that file at `out`, which has room for wavBytes(samples.size()) bytes: for a caller that
// puts it inside a larger buffer without a copy.
void writeWav(char* out, std::span<const float> samples);

} // namespace vozmo
