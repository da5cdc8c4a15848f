#pragma once

#include <memory>
#include <string>

namespace vozmo {

// Plays the three short feedback sounds: "Tink" (recording starts), "Pop" (recording ends),
// "Basso" (a dictation failed). Silent when nothing can play. Main thread only.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const std::string& name) = 0;
};

// The desktop's sound theme through libcanberra.
std::unique_ptr<SoundPlayer> makeSystemSoundPlayer();

} // namespace vozmo
