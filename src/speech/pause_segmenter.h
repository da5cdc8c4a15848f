#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace vozmo {

// Finds where a growing 16 kHz recording may be cut into pieces that can be transcribed apart:
// only in pauses, so that no word is split. A frame of 20 ms is quiet when its level is less
// than `marginDb` above the noise floor (the quietest recent level, rising slowly so that a
// noise that grows is followed); a pause is a run of at least `shortestPause` quiet frames.
//
// The figures were measured on espeak-ng speech at 140 to 220 words a minute, alone and with
// white noise from -60 to -30 dBFS: inside a sentence without punctuation no run of quiet
// frames lasted longer than 60 ms in quiet and 140 ms at -35 dBFS noise (20 dB below the
// speech), 260 ms at -30 dBFS. A pause of 300 ms at a 6 dB margin therefore never falls inside
// a word down to 20 dB of signal to noise.
class PauseSegmenter {
public:
    static constexpr std::size_t kFrame = 320; // 20 ms

    struct Settings {
        double marginDb = 6.0;
        std::size_t shortestPause = 15; // frames: 300 ms
        // A cut needs at least this much audio since the previous one, with this many frames
        // of sound in it: a recording of silence is not sent in pieces.
        std::size_t shortestPiece = 3 * 16000;
        std::size_t shortestSound = 10; // frames: 200 ms
        // A stretch without a pause this long is cut at its quietest frame among the last
        // `longestSearch` samples.
        std::size_t longestPiece = 25 * 16000;
        std::size_t longestSearch = 5 * 16000;
    };

    PauseSegmenter() : PauseSegmenter(Settings{}) {}
    explicit PauseSegmenter(Settings settings);

    // Reads the samples of `recording` past those seen before (it only grows between calls)
    // and answers the new cut positions, in samples from its start, in order.
    std::vector<std::size_t> feed(std::span<const float> recording);
    // The frames between samples `from` and `to` of what was fed that are louder than the
    // quietest frame of the recording by the margin or more: none means there is no word to hear.
    std::size_t soundFrames(std::size_t from, std::size_t to) const;

    const Settings& settings() const { return settings_; }

private:
    void cutAt(std::size_t frame, std::vector<std::size_t>& cuts);

    Settings settings_;
    std::vector<float> levels_; // dB of every whole frame seen
    float lowest_ = 0.0f;       // the quietest of them
    float floor_ = 0.0f;
    std::size_t quietRun_ = 0;
    std::size_t soundFrames_ = 0; // since the last cut
    std::size_t lastCut_ = 0;     // in frames
};

} // namespace vozmo
