#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vozmo {

// Rewrites the final text for the application that receives it: in a chat application
// (config().chatApps; on X11 the WM_CLASS class name) a one-line, one-sentence message loses
// its closing period. Any other text, or an unknown or absent application, is left unchanged.
std::string adapt(std::string_view text, const std::optional<std::string>& appIdentifier);

} // namespace vozmo
