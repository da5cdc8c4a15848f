#include "pause_segmenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vozmo {
namespace {

constexpr double kRate = 16000.0;

// espeak-ng speech at 16 kHz without the silence it puts around an utterance.
std::vector<float> spoken(const std::string& text) {
    const std::string command = "espeak-ng -v es -s 175 --stdout '" + text + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        bytes.append(buffer, n);
    }
    pclose(pipe);
    if (bytes.size() <= 44) {
        return {};
    }
    // 16-bit mono at 22050 Hz, brought to 16 kHz by linear interpolation: enough for levels.
    const std::size_t count = (bytes.size() - 44) / 2;
    std::vector<float> source(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto lo = static_cast<unsigned char>(bytes[44 + 2 * i]);
        const auto hi = static_cast<unsigned char>(bytes[45 + 2 * i]);
        source[i] = static_cast<float>(static_cast<std::int16_t>(lo | (hi << 8))) / 32768.0f;
    }
    std::vector<float> out;
    const double step = 22050.0 / kRate;
    for (double at = 0; at + 1 < static_cast<double>(count); at += step) {
        const auto i = static_cast<std::size_t>(at);
        const double frac = at - static_cast<double>(i);
        out.push_back(static_cast<float>(source[i] * (1 - frac) + source[i + 1] * frac));
    }
    const auto loud = [](float x) { return std::abs(x) > 1e-3f; };
    const auto first = std::find_if(out.begin(), out.end(), loud);
    const auto last = std::find_if(out.rbegin(), out.rend(), loud).base();
    return first < last ? std::vector<float>(first, last) : std::vector<float>{};
}

const std::vector<std::string> kSentences = {
    "bueno te cuento lo de ayer porque creo que no quedó claro en la reunión del lunes",
    "primero revisamos el presupuesto del año que viene con todo el equipo de ventas",
    "después hablamos de las vacaciones y de quién se queda en la oficina en agosto",
    "al final decidimos que el proyecto nuevo empieza en marzo si el cliente firma",
    "para terminar el trabajo a tiempo cada persona del grupo tiene que cumplir su parte",
};

void addNoise(std::vector<float>& audio, double dbfs, unsigned seed) {
    if (dbfs <= -100) {
        return;
    }
    // Uniform noise of that RMS level.
    const double amplitude = std::pow(10.0, dbfs / 20.0) * std::sqrt(3.0);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-amplitude, amplitude);
    for (float& x : audio) {
        x += static_cast<float>(noise(random));
    }
}

// The cuts of a recording fed as it grows, a tenth of a second at a time.
std::vector<std::size_t> cutsOf(const std::vector<float>& audio) {
    PauseSegmenter segmenter;
    std::vector<std::size_t> cuts;
    for (std::size_t end = 0; end < audio.size();) {
        end = std::min(audio.size(), end + 1600);
        for (const std::size_t cut : segmenter.feed(std::span(audio.data(), end))) {
            cuts.push_back(cut);
        }
    }
    return cuts;
}

TEST(PauseSegmenter, CutsSpeechOnlyInItsPauses) {
    std::vector<std::vector<float>> sentences;
    for (const auto& text : kSentences) {
        sentences.push_back(spoken(text));
        ASSERT_GT(sentences.back().size(), 3 * kRate) << "espeak-ng gave no speech: " << text;
    }
    const std::vector<double> pauses = {0.8, 0.5, 1.0, 0.6};
    for (const double noise : {-120.0, -55.0, -40.0}) {
        std::vector<float> audio;
        std::vector<std::pair<std::size_t, std::size_t>> pauseSpans;
        for (std::size_t i = 0; i < sentences.size(); ++i) {
            audio.insert(audio.end(), sentences[i].begin(), sentences[i].end());
            if (i < pauses.size()) {
                const std::size_t start = audio.size();
                audio.insert(audio.end(), static_cast<std::size_t>(pauses[i] * kRate), 0.0f);
                pauseSpans.emplace_back(start, audio.size());
            }
        }
        addNoise(audio, noise, 7);
        const auto cuts = cutsOf(audio);
        // Every sentence is longer than the shortest piece, so each pause gets one cut.
        ASSERT_EQ(cuts.size(), pauses.size()) << "noise " << noise << " dBFS";
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            EXPECT_GT(cuts[i], pauseSpans[i].first) << "noise " << noise << " dBFS, cut " << i;
            EXPECT_LT(cuts[i], pauseSpans[i].second) << "noise " << noise << " dBFS, cut " << i;
        }
    }
}

TEST(PauseSegmenter, LongSpeechWithoutAPauseIsCutOnlyAtItsLongest) {
    std::vector<float> speech;
    for (std::size_t round = 0; speech.size() < 45 * kRate; ++round) {
        const auto sentence = spoken(kSentences[round % kSentences.size()]);
        ASSERT_FALSE(sentence.empty());
        speech.insert(speech.end(), sentence.begin(), sentence.end());
    }
    const PauseSegmenter::Settings limits;
    for (const double noise : {-120.0, -40.0}) {
        std::vector<float> audio = speech;
        addNoise(audio, noise, 11);
        const std::vector<float> first20(audio.begin(), audio.begin() + 20 * 16000);
        EXPECT_TRUE(cutsOf(first20).empty()) << "noise " << noise << " dBFS";
        const auto cuts = cutsOf(audio);
        ASSERT_FALSE(cuts.empty()) << "noise " << noise << " dBFS";
        EXPECT_GE(cuts[0], limits.longestPiece - limits.longestSearch);
        EXPECT_LT(cuts[0], limits.longestPiece);
        for (std::size_t i = 1; i < cuts.size(); ++i) {
            EXPECT_GE(cuts[i] - cuts[i - 1], limits.longestPiece - limits.longestSearch);
        }
    }
}

TEST(PauseSegmenter, SilenceAndShortSpeechAreNotCut) {
    // A held key and nothing said, then a short phrase and a pause: no piece worth sending.
    std::vector<float> audio(static_cast<std::size_t>(10 * kRate), 0.0f);
    const auto phrase = spoken("hola qué tal");
    audio.insert(audio.end(), phrase.begin(), phrase.end());
    audio.insert(audio.end(), static_cast<std::size_t>(kRate), 0.0f);
    addNoise(audio, -55, 3);
    const auto cuts = cutsOf(audio);
    // At most one cut, in the pause after the phrase, never in the silence before it.
    for (const std::size_t cut : cuts) {
        EXPECT_GT(cut, static_cast<std::size_t>(10 * kRate) + phrase.size());
    }
}

} // namespace
} // namespace vozmo
