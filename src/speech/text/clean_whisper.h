#pragma once

#include <string>
#include <string_view>

namespace vozmo {

// Removes what the recogniser writes without anyone saying it: segment line feeds, bracketed
// sound tags, parenthesised music/laughter notes, runs of blanks, and short transcripts that are
// subtitle-credit hallucinations (those become empty). Pure; never fails.
std::string cleanWhisper(std::string_view raw);

} // namespace vozmo
