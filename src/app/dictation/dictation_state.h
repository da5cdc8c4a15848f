#pragma once

namespace vozmo {

// What dictation is doing; written on the main thread only.
enum class State { idle, recording, processing };

} // namespace vozmo
