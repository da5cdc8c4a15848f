#pragma once

#include <string>
#include <string_view>

namespace vozmo {

// Appends "[time] message" to logs/app.log; in self-test mode also prints the bare message.
// Never fails towards the caller; callable from any thread.
void log(std::string_view message);

// "2025-03-01T09:15:42Z" for the current moment.
std::string logTimestamp();

} // namespace vozmo
