#include "pause_segmenter.h"

#include <algorithm>
#include <cmath>

namespace vozmo {

namespace {

// Below this a level is taken as this: digital silence would otherwise set a floor no
// microphone reaches, and every breath would count as speech.
constexpr float kLowestFloorDb = -70.0f;
// The floor follows a louder background at 1 dB a second (50 frames).
constexpr float kFloorRisePerFrame = 1.0f / 50.0f;

float levelDb(std::span<const float> frame) {
    double sum = 0.0;
    for (const float x : frame) {
        sum += static_cast<double>(x) * x;
    }
    const double mean = sum / static_cast<double>(frame.size());
    return std::max(kLowestFloorDb, static_cast<float>(10.0 * std::log10(mean + 1e-12)));
}

} // namespace

PauseSegmenter::PauseSegmenter(Settings settings) : settings_(settings) {
    settings_.shortestPause = std::max<std::size_t>(settings_.shortestPause, 2);
    settings_.longestSearch = std::min(settings_.longestSearch, settings_.longestPiece);
}

std::size_t PauseSegmenter::soundFrames(std::size_t from, std::size_t to) const {
    const std::size_t first = std::min(from / kFrame, levels_.size());
    // A frame only partly inside counts: its sound may be the start or end of a word.
    const std::size_t last = std::min((to + kFrame - 1) / kFrame, levels_.size());
    // Against the quietest level of the whole recording, not the floor as it was then: a word
    // at the very start, before any quiet frame, set the first floor itself.
    const float threshold = lowest_ + static_cast<float>(settings_.marginDb);
    return static_cast<std::size_t>(
        std::count_if(levels_.begin() + static_cast<std::ptrdiff_t>(std::min(first, last)),
                      levels_.begin() + static_cast<std::ptrdiff_t>(last),
                      [threshold](float level) { return level >= threshold; }));
}

void PauseSegmenter::cutAt(std::size_t frame, std::vector<std::size_t>& cuts) {
    lastCut_ = frame;
    soundFrames_ = 0;
    for (std::size_t f = frame; f < levels_.size(); ++f) {
        soundFrames_ += levels_[f] >= floor_ + static_cast<float>(settings_.marginDb) ? 1 : 0;
    }
    cuts.push_back(frame * kFrame);
}

std::vector<std::size_t> PauseSegmenter::feed(std::span<const float> recording) {
    std::vector<std::size_t> cuts;
    const std::size_t shortest = settings_.shortestPiece / kFrame;
    const std::size_t longest = std::max<std::size_t>(settings_.longestPiece / kFrame, 1);
    const std::size_t search = std::max<std::size_t>(settings_.longestSearch / kFrame, 1);
    const std::size_t halfPause = settings_.shortestPause / 2;
    while ((levels_.size() + 1) * kFrame <= recording.size()) {
        const std::size_t f = levels_.size();
        const float level = levelDb(recording.subspan(f * kFrame, kFrame));
        levels_.push_back(level);
        if (f == 0) {
            floor_ = level;
        }
        const bool quiet = level < floor_ + static_cast<float>(settings_.marginDb);
        lowest_ = f == 0 ? level : std::min(lowest_, level);
        floor_ = level < floor_ ? level : floor_ + kFloorRisePerFrame;
        quietRun_ = quiet ? quietRun_ + 1 : 0;
        soundFrames_ += quiet ? 0 : 1;

        if (quietRun_ >= settings_.shortestPause && soundFrames_ >= settings_.shortestSound) {
            // Half a pause of quiet stays on each side of the cut, so the piece before it ends
            // after the word and the piece after it starts before the next one.
            const std::size_t runStart = f + 1 - quietRun_;
            const std::size_t candidate = std::max(runStart + halfPause, lastCut_ + shortest);
            if (candidate + halfPause <= f + 1 && candidate > lastCut_) {
                cutAt(candidate, cuts);
                continue;
            }
        }
        if (f + 1 - lastCut_ >= longest) {
            // No pause in the longest piece: its quietest frame among the last few seconds.
            const std::size_t from = std::max(f + 1 - search, lastCut_ + 1);
            const auto quietest = std::min_element(
                levels_.begin() + static_cast<std::ptrdiff_t>(from), levels_.end());
            cutAt(static_cast<std::size_t>(quietest - levels_.begin()), cuts);
        }
    }
    return cuts;
}

} // namespace vozmo
