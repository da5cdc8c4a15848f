#include "adapt.h"

#include "config.h"
#include "unicode_text.h"

namespace vozmo {

std::string adapt(std::string_view text, const std::optional<std::string>& appIdentifier) {
    if (!appIdentifier || !config().chatApps.contains(*appIdentifier)) {
        return std::string(text);
    }
    // Characters are grapheme clusters: a period carrying a combining mark is not a period.
    auto bounds = text::graphemeBoundaries(text);
    std::size_t count = bounds.size() - 1;
    auto grapheme = [&](std::size_t i) {
        return text.substr(bounds[i], bounds[i + 1] - bounds[i]);
    };
    if (count == 0 || grapheme(count - 1) != ".") {
        return std::string(text);
    }
    if (count >= 3 && grapheme(count - 2) == "." && grapheme(count - 3) == ".") {
        return std::string(text); // an ellipsis written as three full stops
    }
    // Several lines: a line feed anywhere, on its own or as part of CR LF.
    if (text.find('\n') != std::string_view::npos) {
        return std::string(text);
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (grapheme(i) == ".") {
            return std::string(text); // a second sentence, an abbreviation or a separator
        }
    }
    return std::string(text.substr(0, bounds[count - 1]));
}

} // namespace vozmo
