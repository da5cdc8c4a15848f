#include "hud_view.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

// What someone watching the panel would notice: the level bars stay inside the capsule and clear
// of the marker and the label, silence draws the same flat resting row whatever the microphone
// reports, and louder speech never makes a bar shorter. Measured on rendered pixels against the
// bare capsule, so the drawing may change freely as long as these hold.

namespace vozmo {
namespace {

constexpr int kMargin = 8; // transparent border around the capsule, to see anything spill out
constexpr double kVisible = 0.15; // ink a viewer clearly sees over the capsule

QImage noSymbol(Glyph, const QColor&, double, double) {
    return {};
}

QImage paint(const HUDMode& mode, const Levels& levels, double phase, QSize size,
             const SymbolSource& symbol) {
    QImage image(size + QSize(2 * kMargin, 2 * kMargin), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(kMargin, kMargin);
    paintHUD(painter, mode, levels, phase, QSizeF(size), symbol);
    return image;
}

// The content of a mode drawn at the size the panel gives it, inside a transparent border, and
// the same capsule with nothing on it (a "done" line with neither icon nor text).
struct Picture {
    Picture(const HUDMode& mode, const Levels& levels, double phase = 0,
            const SymbolSource& symbol = defaultSymbol)
        : capsule(hudSize(mode).toSize()), image(paint(mode, levels, phase, capsule, symbol)),
          blank(paint(HUDMode::done(QString()), {}, 0, capsule, noSymbol)) {}

    // How much the content adds to a pixel of the bare capsule, from 0 to 1.
    double ink(int x, int y) const {
        return std::max(0.0, static_cast<double>(image.pixelColor(x, y).alphaF()) -
                                 blank.pixelColor(x, y).alphaF());
    }
    QColor color(int x, int y) const { return image.pixelColor(x, y); }

    QSize capsule;
    QImage image;
    QImage blank;
};

// Bars are drawn in blues and violets: blue is their strongest channel, well above the weakest.
// The label is white and the recording marker red or orange; only a busy spinner may share the
// bars' colours.
bool barColoured(const QColor& c) {
    const double weakest = std::min(c.redF(), c.greenF());
    return c.blueF() >= c.redF() && c.blueF() >= c.greenF() &&
           c.blueF() - weakest > 0.3 * c.blueF();
}
bool white(const QColor& c) {
    return c.red() > 150 && c.green() > 150 && c.blue() > 150;
}

struct Rect {
    int left = std::numeric_limits<int>::max(), right = -1;
    int top = std::numeric_limits<int>::max(), bottom = -1;
    bool empty() const { return right < 0; }
    void add(int x, int y) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
};

// Where the pixels lie that pass `test(x, y)`.
template <typename Test> Rect extent(const Picture& picture, Test test) {
    Rect box;
    for (int y = 0; y < picture.image.height(); ++y) {
        for (int x = 0; x < picture.image.width(); ++x) {
            if (test(x, y)) {
                box.add(x, y);
            }
        }
    }
    return box;
}

// Where the clearly visible content of a colour lies.
template <typename Colour> Rect content(const Picture& picture, Colour colour) {
    return extent(picture, [&](int x, int y) {
        return picture.ink(x, y) > kVisible && colour(picture.color(x, y));
    });
}

struct Bars {
    std::vector<double> ink; // how much each bar paints, left to right
    Rect box;                // everything the bars cover
    Rect spinner;            // a busy spinner in the bars' colours, when there is one
};

// Finds the bars as runs of bar-coloured columns and sums the ink of each. A spinner in the
// bars' colours is the one run on the left wider than every bar.
Bars bars(const Picture& picture) {
    auto isBar = [&](int x, int y) {
        return picture.ink(x, y) > 0.05 && barColoured(picture.color(x, y));
    };
    struct Run {
        Rect box;
        double ink = 0;
    };
    std::vector<Run> runs;
    bool inRun = false;
    for (int x = 0; x < picture.image.width(); ++x) {
        bool any = false;
        for (int y = 0; y < picture.image.height(); ++y) {
            if (!isBar(x, y)) {
                continue;
            }
            if (!inRun) {
                runs.emplace_back();
                inRun = true;
            }
            any = true;
            runs.back().box.add(x, y);
            runs.back().ink += picture.ink(x, y);
        }
        inRun = any;
    }
    Bars found;
    auto width = [](const Run& run) { return run.box.right - run.box.left + 1; };
    if (runs.size() == static_cast<size_t>(kHUDBars) + 1 &&
        std::all_of(runs.begin() + 1, runs.end(),
                    [&](const Run& run) { return width(run) * 2 < width(runs.front()); })) {
        found.spinner = runs.front().box;
        runs.erase(runs.begin());
    }
    for (const Run& run : runs) {
        found.ink.push_back(run.ink);
        found.box.add(run.box.left, run.box.top);
        found.box.add(run.box.right, run.box.bottom);
    }
    return found;
}

Levels filled(double level) {
    Levels levels;
    levels.fill(level);
    return levels;
}

// The levels a view holds after hearing `level` for as long as the panel shows.
Levels heard(float level) {
    HUDView view;
    for (int i = 0; i < kHUDBars; ++i) {
        view.push(level);
    }
    return view.levels();
}

const struct {
    const char* name;
    HUDMode mode;
} kBarModes[] = {
    {"listening", HUDMode::listening(false)}, {"hands-free", HUDMode::listening(true)},
    {"loading", HUDMode::loading()},          {"transcribing", HUDMode::transcribing()},
    {"polishing", HUDMode::polishing()},
};

TEST(HUDBars, StayInsideTheCapsuleClearOfMarkerAndLabel) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const auto& m : kBarModes) {
        // The loudest input a microphone can report, and the busy animation at several moments.
        for (float level : {1.0f, 1e6f, inf, nan}) {
            for (double phase : {0.0, 0.7, 1.9, 3.3}) {
                const Picture picture(m.mode, heard(level), phase);
                const Bars found = bars(picture);
                const std::string what = std::string(m.name) + " level " + std::to_string(level) +
                                         " phase " + std::to_string(phase);
                ASSERT_EQ(found.ink.size(), static_cast<size_t>(kHUDBars)) << what;
                // Off the border rows and clear of the rounded ends: dark space all round.
                const int height = picture.capsule.height();
                EXPECT_GT(found.box.top, kMargin + 1) << what;
                EXPECT_LT(found.box.bottom, kMargin + height - 2) << what;
                EXPECT_GT(found.box.left, kMargin + height / 2) << what;
                EXPECT_LT(found.box.right, kMargin + picture.capsule.width() - height / 2) << what;

                // Marker on the left, label on the right, nothing else painted among the bars.
                auto other = [&](int x, int y) {
                    return picture.ink(x, y) > kVisible && !barColoured(picture.color(x, y));
                };
                Rect marker = extent(
                    picture, [&](int x, int y) { return x < found.box.left && other(x, y); });
                if (!found.spinner.empty()) {
                    marker.add(found.spinner.left, found.spinner.top);
                    marker.add(found.spinner.right, found.spinner.bottom);
                }
                const Rect label = extent(
                    picture, [&](int x, int y) { return x > found.box.right && other(x, y); });
                const Rect among = extent(picture, [&](int x, int y) {
                    return x >= found.box.left && x <= found.box.right && other(x, y);
                });
                ASSERT_FALSE(marker.empty()) << what;
                ASSERT_FALSE(label.empty()) << what;
                EXPECT_TRUE(among.empty()) << what;
                EXPECT_GE(found.box.left - marker.right, 4) << what;
                EXPECT_GE(label.left - found.box.right, 4) << what;
            }
        }
        // Nothing at all is drawn outside the capsule.
        const Picture picture(m.mode, filled(1.0), 0.5);
        const Rect outside = extent(picture, [&](int x, int y) {
            const bool inCapsule = x >= kMargin && x < kMargin + picture.capsule.width() &&
                                   y >= kMargin && y < kMargin + picture.capsule.height();
            return !inCapsule && picture.color(x, y).alpha() > 0;
        });
        EXPECT_TRUE(outside.empty()) << m.name;
    }
}

TEST(HUDBars, SilenceDrawsTheRestingRow) {
    const HUDMode mode = HUDMode::listening(false);
    const Picture fresh(mode, HUDView().levels());
    const Bars resting = bars(fresh);
    ASSERT_EQ(resting.ink.size(), static_cast<size_t>(kHUDBars));
    // A flat row of short bars: all alike, visible, and far below a loud bar.
    const Bars loud = bars(Picture(mode, heard(1.0f)));
    ASSERT_EQ(loud.ink.size(), static_cast<size_t>(kHUDBars));
    for (double bar : resting.ink) {
        EXPECT_NEAR(bar, resting.ink.front(), 0.1 * resting.ink.front());
        EXPECT_GT(bar, 1.0);
        EXPECT_LT(bar * 3, loud.ink.front());
    }
    // Silence, the hiss of an idle microphone, a broken reading: all the same resting row.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float level : {0.0f, 1e-7f, 1e-5f, -0.5f, -std::numeric_limits<float>::infinity(), nan}) {
        EXPECT_TRUE(Picture(mode, heard(level)).image == fresh.image) << level;
    }
    // After speech, as much silence as the panel shows brings the resting row back.
    HUDView view;
    for (int i = 0; i < kHUDBars; ++i) {
        view.push(0.8f);
    }
    for (int i = 0; i < kHUDBars; ++i) {
        view.push(0.0f);
    }
    EXPECT_TRUE(Picture(mode, view.levels()).image == fresh.image);
}

TEST(HUDBars, LouderInputRaisesTheBars) {
    const std::vector<float> louder = {0.0f,  1e-4f, 1e-3f, 3e-3f, 0.01f, 0.02f, 0.04f,
                                       0.07f, 0.1f,  0.2f,  0.4f,  0.7f,  1.0f};
    const HUDMode mode = HUDMode::listening(false);
    // The same level held for a while: every bar grows with it, or at the top stays put.
    std::vector<double> heights;
    for (float level : louder) {
        const Bars found = bars(Picture(mode, heard(level)));
        ASSERT_EQ(found.ink.size(), static_cast<size_t>(kHUDBars)) << level;
        heights.push_back(found.ink[kHUDBars / 2]);
    }
    for (size_t i = 1; i < heights.size(); ++i) {
        EXPECT_GE(heights[i], heights[i - 1] - 0.05) << louder[i - 1] << " -> " << louder[i];
    }
    EXPECT_GT(heights.back(), 3 * heights.front());
    // Speech at an everyday level already stands clearly above silence.
    EXPECT_GT(heights[6], 2 * heights.front());

    // Getting louder while speaking: the newest level enters on the right, so the row rises
    // from left to right.
    HUDView view;
    for (int i = 0; i < kHUDBars; ++i) {
        view.push(0.25f * static_cast<float>(i * i) / static_cast<float>(kHUDBars * kHUDBars));
    }
    const Bars ramp = bars(Picture(mode, view.levels()));
    ASSERT_EQ(ramp.ink.size(), static_cast<size_t>(kHUDBars));
    for (int i = 1; i < kHUDBars; ++i) {
        // Bars sit at different fractions of a pixel, so equal bars differ by a few percent.
        EXPECT_GE(ramp.ink[i], ramp.ink[i - 1] * 0.95) << i;
    }
    EXPECT_GT(ramp.ink.back(), 3 * ramp.ink.front());
    // One loud word after silence shows on the rightmost bar only.
    HUDView word;
    word.push(0.5f);
    const Bars one = bars(Picture(mode, word.levels()));
    ASSERT_EQ(one.ink.size(), static_cast<size_t>(kHUDBars));
    for (int i = 0; i + 1 < kHUDBars; ++i) {
        EXPECT_LT(one.ink[i] * 3, one.ink.back()) << i;
    }
}

TEST(HUDDrawing, HandsFreeShowsThePadlockOrTheDotWithoutIt) {
    auto orange = [](const QColor& c) {
        return c.red() > 150 && c.green() > 70 && c.green() < 200 && c.blue() < 80;
    };
    auto red = [](const QColor& c) { return c.red() > 120 && c.green() < c.red() * 0.45; };
    // Visible pixels of a colour left of the bars, where the marker is.
    auto marker = [&](const Picture& picture, auto colour) {
        const int barsLeft = bars(picture).box.left;
        int count = 0;
        for (int y = 0; y < picture.image.height(); ++y) {
            for (int x = 0; x < barsLeft; ++x) {
                count += picture.ink(x, y) > kVisible && colour(picture.color(x, y)) ? 1 : 0;
            }
        }
        return count;
    };

    const Picture withLock(HUDMode::listening(true), {}, 1.0);
    EXPECT_GT(marker(withLock, orange), 20);
    EXPECT_EQ(marker(withLock, red), 0);

    // Without the padlock symbol the red dot stands in, but the label still says hands-free.
    const Picture noLock(HUDMode::listening(true), {}, 1.0, noSymbol);
    EXPECT_EQ(marker(noLock, orange), 0);
    EXPECT_GT(marker(noLock, red), 60);
    const Picture listening(HUDMode::listening(false), {}, 1.0);
    ASSERT_FALSE(content(withLock, white).empty());
    EXPECT_EQ(content(noLock, white).right, content(withLock, white).right);
    EXPECT_NE(content(listening, white).right, content(withLock, white).right);
}

TEST(HUDDrawing, CapsuleFitsItsContentWithTheSameMarginOnBothSides) {
    const struct {
        const char* name;
        HUDMode mode;
    } cases[] = {
        {"listening", HUDMode::listening(false)},
        {"hands-free", HUDMode::listening(true)},
        {"loading", HUDMode::loading()},
        {"transcribing", HUDMode::transcribing()},
        {"polishing", HUDMode::polishing()},
        {"done", HUDMode::done(QStringLiteral("Listo · mantén Alt derecha"))},
        {"long message",
         HUDMode::message(QStringLiteral("Copiado: pega con Ctrl+Mayús+V donde quieras escribirlo"),
                          HUDColors::orange)},
    };
    for (const auto& c : cases) {
        const Picture picture(c.mode, {}, 0);
        const Rect all = content(picture, [](const QColor&) { return true; });
        ASSERT_FALSE(all.empty()) << c.name;
        const int left = all.left - kMargin;
        const int right = kMargin + picture.capsule.width() - 1 - all.right;
        EXPECT_NEAR(left, right, 3) << c.name << ": " << left << " vs " << right;
        EXPECT_GE(right, 12) << c.name;
    }
}

TEST(HUDDrawing, MessageIconTakesItsColourBeforeTheText) {
    const Picture picture(HUDMode::message(QStringLiteral("Sin voz"), HUDColors::orange), {}, 0);
    const Rect text = content(picture, white);
    const Rect icon = content(picture, [](const QColor& c) {
        return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 60;
    });
    ASSERT_FALSE(icon.empty());
    ASSERT_FALSE(text.empty());
    EXPECT_LT(icon.right, text.left);
}

} // namespace
} // namespace vozmo
