#pragma once

#include <memory>
#include <string>

namespace vozmo {

// The three short feedback sounds.
enum class Sound {
    start, // the recording starts
    stop,  // the recording ends
    error, // a dictation failed
};

// Plays the feedback sounds. Silent when nothing can play. Main thread only.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(Sound sound) = 0;
};

// The desktop's sound theme through libcanberra.
std::unique_ptr<SoundPlayer> makeSystemSoundPlayer();

} // namespace vozmo
