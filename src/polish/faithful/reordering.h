#pragma once

#include "alignment.h"

#include <vector>

// Answers that say the dictation's words in another order.
namespace vozmo::Polisher::faithful {

// Whether the answer holds exactly the dictation's kept words (`r`, its droppable words marked),
// with up to two short adverbial phrases moved to the other side of the rest: a date
// ("mañana", "el lunes por la tarde") or a phrase opened by a preposition ("sin falta", "con
// Ana"). Names, numbers and dates keep their order among themselves, so that no one swaps who
// does what to whom, nor which figure or day goes where.
bool reordered(const std::vector<Info>& r, const std::vector<Info>& a);

} // namespace vozmo::Polisher::faithful
