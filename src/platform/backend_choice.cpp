#include "backend_choice.h"

namespace vozmo {

std::string BackendChoice::describe(const std::string& what) const {
    std::string line = what + ": " + (ok() ? chosen : std::string("ninguno"));
    if (!skipped.empty()) {
        line += ok() ? " (descartados: " : " (";
        for (std::size_t i = 0; i < skipped.size(); ++i) {
            line += (i > 0 ? "; " : "") + skipped[i];
        }
        line += ")";
    }
    return line;
}

BackendChoice chooseBackend(const std::vector<BackendCandidate>& candidates) {
    BackendChoice choice;
    for (const auto& candidate : candidates) {
        std::string problem = candidate.problem ? candidate.problem() : "no disponible";
        if (problem.empty()) {
            choice.chosen = candidate.name;
            break;
        }
        choice.skipped.push_back(candidate.name + ": " + problem);
    }
    return choice;
}

} // namespace vozmo
