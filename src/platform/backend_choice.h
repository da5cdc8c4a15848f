#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vozmo {

// One way of doing something on this desktop (observing the key, sending the paste stroke,
// naming the focused application), asked at run time whether it works here.
struct BackendCandidate {
    std::string name;
    // Why it does not work here, in a few Spanish words; "" when it works.
    std::function<std::string()> problem;
};

// The first candidate that works, and why each one before it did not.
struct BackendChoice {
    std::string chosen;               // "" when none works
    std::vector<std::string> skipped; // "name: reason", in the order tried
    bool ok() const { return !chosen.empty(); }
    // One log line: "Tecla: orden vozmo --key (descartados: XInput2: …)".
    std::string describe(const std::string& what) const;
};

// Tries the candidates in order; stops at the first that works.
BackendChoice chooseBackend(const std::vector<BackendCandidate>& candidates);

} // namespace vozmo
