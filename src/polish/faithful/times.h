#pragma once

#include "alignment.h"

#include <vector>

// Times of day said the 12-hour way, which a polish may write the 24-hour way: "a las cinco de
// la tarde" as "a las 17:00", "a la una y media de la madrugada" as "a la 1:30".
namespace vozmo::Polisher::faithful {

// Gives the hour of each such time in the dictation `t` its 24-hour forms as other values, and
// when the answer writes one of them, lets the minutes and the part of the day go.
void markTimes(const Words& t, std::vector<Info>& r, const std::vector<Info>& a);

} // namespace vozmo::Polisher::faithful
