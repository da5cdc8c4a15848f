#include "render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace vozmo {
namespace {

using test::renderHUD;

QColor over(const QColor& src, const QColor& dst) {
    const double as = src.alphaF();
    const double ad = dst.alphaF();
    const double a = as + ad * (1 - as);
    auto channel = [&](double s, double d) { return (s * as + d * ad * (1 - as)) / a; };
    return QColor::fromRgbF(channel(src.redF(), dst.redF()), channel(src.greenF(), dst.greenF()),
                            channel(src.blueF(), dst.blueF()), a);
}

const QColor background = QColor::fromRgbF(0.05, 0.05, 0.05, 0.45);

void expectColor(const QColor& actual, const QColor& expected, const char* what) {
    const int tolerance = 4;
    EXPECT_NEAR(actual.red(), expected.red(), tolerance) << what;
    EXPECT_NEAR(actual.green(), expected.green(), tolerance) << what;
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << what;
    EXPECT_NEAR(actual.alpha(), expected.alpha(), tolerance) << what;
}

// The pixel column nearest the middle of bar i.
int barColumn(int i) {
    return static_cast<int>(std::lround(44 + 6.2 * i + 1));
}

// The painted height of bar i, from how much of its middle column is covered.
double barHeight(const QImage& image, int i, double barAlpha = 1.0) {
    const int x = barColumn(i);
    const double base = image.pixelColor(x, 4).alphaF();
    const double full = barAlpha + base * (1 - barAlpha);
    double height = 0;
    for (int y = 5; y < 43; ++y) {
        height += std::max(0.0, (image.pixelColor(x, y).alphaF() - base) / (full - base));
    }
    return height;
}

struct Box {
    int left = 10000, right = -1;
    double centre() const { return (left + right + 1) / 2.0; }
    bool empty() const { return right < 0; }
};

// Horizontal extent of the pixels that pass `test` inside the capsule.
template <typename Test> Box extent(const QImage& image, Test test) {
    Box box;
    for (int y = 3; y < 45; ++y) {
        for (int x = 3; x < 307; ++x) {
            if (test(image.pixelColor(x, y))) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
            }
        }
    }
    return box;
}

bool greenish(const QColor& c) {
    return c.green() > 120 && c.green() > c.red() + 60;
}
bool whiteish(const QColor& c) {
    return c.red() > 150 && c.green() > 150 && c.blue() > 150;
}

QImage noSymbol(Glyph, const QColor&, double, double) {
    return {};
}

TEST(LevelBar, MapsLevelsToBarHeights) {
    const struct {
        float level;
        double bar;
    } cases[] = {
        {0.0f, 0.0},
        {0.0016f, 0.0},
        {0.001f, 0.0},
        {-1.0f, 0.0},
        {1.0f, 1.0},
        {0.25f, 1.0},
        {0.18f, 0.999},
        {0.0539712f, 0.5},
        {std::numeric_limits<float>::quiet_NaN(), 0.0},
        {std::numeric_limits<float>::infinity(), 1.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(levelBar(c.level), c.bar, 0.002) << c.level;
    }
}

TEST(HUDView, StartsLoadingWithZeroLevelsAndKeepsTheNewest26) {
    HUDView view;
    EXPECT_EQ(view.mode(), HUDMode::loading());
    EXPECT_EQ(view.phase(), 0);
    for (double level : view.levels()) {
        EXPECT_EQ(level, 0);
    }
    view.push(1.0f); // the first push, dropped by the 27th
    for (int i = 0; i < 25; ++i) {
        view.push(0.0539712f);
    }
    EXPECT_EQ(view.levels().front(), 1.0);
    view.push(0.0f);
    EXPECT_NEAR(view.levels().front(), 0.5, 0.001);
    EXPECT_EQ(view.levels().back(), 0.0);
}

TEST(HUDDrawing, ListeningBarHeightsFollowTheLevels) {
    Levels levels{};
    levels[0] = levelBar(0.0f);
    levels[1] = levelBar(1.0f);
    levels[2] = levelBar(0.0539712f);
    levels[25] = levelBar(0.5f);
    const QImage image = renderHUD(HUDMode::listening(false), levels, 0.3);
    EXPECT_NEAR(barHeight(image, 0), 3, 0.5);
    EXPECT_NEAR(barHeight(image, 1), 30, 0.5);
    EXPECT_NEAR(barHeight(image, 2), 15, 0.5);
    EXPECT_NEAR(barHeight(image, 25), 30, 0.5);
    // Without new levels the bars stand still while the phase runs on.
    const QImage later = renderHUD(HUDMode::listening(false), levels, 2.1);
    for (int i : {0, 1, 2, 12, 25}) {
        EXPECT_NEAR(barHeight(later, i), barHeight(image, i), 0.01) << i;
    }
}

TEST(HUDDrawing, BarColoursRunFromOneEndToTheOther) {
    Levels full;
    full.fill(1.0);
    const struct {
        HUDMode mode;
        QColor first, last;
    } cases[] = {
        {HUDMode::listening(false), QColor::fromRgbF(0.2, 0.8, 1, 1),
         QColor::fromRgbF(0.65, 0.4, 1, 1)},
        {HUDMode::listening(true), QColor::fromRgbF(0.2, 0.8, 1, 1),
         QColor::fromRgbF(0.65, 0.4, 1, 1)},
        {HUDMode::loading(), over(QColor::fromRgbF(0.2, 0.8, 1, 0.8), background),
         over(QColor::fromRgbF(0.65, 0.4, 1, 0.8), background)},
        {HUDMode::transcribing(), over(QColor::fromRgbF(0.2, 0.8, 1, 0.8), background),
         over(QColor::fromRgbF(0.65, 0.4, 1, 0.8), background)},
        {HUDMode::polishing(), over(QColor::fromRgbF(0.62, 0.42, 1, 0.95), background),
         over(QColor::fromRgbF(0.87, 0.42, 1, 0.95), background)},
    };
    for (const auto& c : cases) {
        const QImage image = renderHUD(c.mode, full, 0.7);
        // Row 23 lies inside every bar: even a 3-point bar covers y = 22.5 to 25.5.
        expectColor(image.pixelColor(barColumn(0), 23), c.first, "first bar");
        expectColor(image.pixelColor(barColumn(25), 23), c.last, "last bar");
    }
}

TEST(HUDDrawing, BusyBarsTravelWithThePhase) {
    for (const HUDMode& mode : {HUDMode::loading(), HUDMode::polishing()}) {
        const double alpha = mode == HUDMode::polishing() ? 0.95 : 0.8;
        for (double phase : {0.0, 1.3}) {
            const QImage image = renderHUD(mode, {}, phase);
            for (int i : {0, 7, 19}) {
                const double expected =
                    std::max(30 * (0.2 * std::sin(2.2 * phase - 0.45 * i) + 0.22), 3.0);
                EXPECT_NEAR(barHeight(image, i, alpha), expected, 0.6) << phase << " " << i;
            }
        }
    }
}

TEST(HUDDrawing, SpinnerStartsAtZeroDegreesAndTurnsClockwise) {
    // Pixel on the spinner's circle at a counter-clockwise angle (y up, as on screen).
    auto lit = [](const QImage& image, double degrees) {
        const double radians = degrees * std::numbers::pi / 180;
        const QColor c =
            image.pixelColor(static_cast<int>(std::floor(24 + 6.5 * std::cos(radians))),
                             static_cast<int>(std::floor(24 - 6.5 * std::sin(radians))));
        return c.red() > 100;
    };
    const struct {
        double phase;
        double gap; // middle of the 90-degree gap
    } cases[] = {{0.0, 315}, {0.75, 225}, {1.5, 135}};
    for (const auto& c : cases) {
        const QImage image = renderHUD(HUDMode::loading(), {}, c.phase);
        EXPECT_FALSE(lit(image, c.gap)) << c.phase;
        for (double offset : {90.0, 180.0, 270.0}) {
            EXPECT_TRUE(lit(image, c.gap + offset)) << c.phase << " " << offset;
        }
    }
}

TEST(HUDDrawing, RecordingDotPulsesBetweenHalfAndFullRed) {
    const struct {
        double phase;
        double alpha;
    } cases[] = {{0.0, 0.55},
                 {std::numbers::pi / 2, 1.0},
                 {std::numbers::pi / 6, 0.775},
                 {std::numbers::pi, 0.55}};
    for (const auto& c : cases) {
        QColor red = HUDColors::red;
        red.setAlphaF(c.alpha);
        expectColor(renderHUD(HUDMode::listening(false), {}, c.phase).pixelColor(24, 24),
                    over(red, background), "dot centre");
    }
}

TEST(HUDDrawing, HandsFreeShowsThePadlockOrTheDotWithoutIt) {
    auto orange = [](const QColor& c) {
        return c.red() > 150 && c.green() > 70 && c.green() < 200 && c.blue() < 80;
    };
    auto marker = [&](const QImage& image, auto test) {
        int count = 0;
        for (int y = 14; y < 34; ++y) {
            for (int x = 14; x < 34; ++x) {
                count += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return count;
    };
    auto red = [](const QColor& c) { return c.red() > 120 && c.green() < c.red() * 0.45; };
    auto label = [](const QImage& image) {
        return extent(image, whiteish).left >= 214 && !extent(image, whiteish).empty();
    };

    const QImage withLock = renderHUD(HUDMode::listening(true), {}, 1.0);
    EXPECT_GT(marker(withLock, orange), 20);
    EXPECT_EQ(marker(withLock, red), 0);
    EXPECT_TRUE(label(withLock));

    const QImage noLock = renderHUD(HUDMode::listening(true), {}, 1.0, noSymbol);
    EXPECT_EQ(marker(noLock, orange), 0);
    EXPECT_GT(marker(noLock, red), 60);
    EXPECT_TRUE(label(noLock));
    // Same label as with the lock: "Manos libres", not "Escuchando".
    const QImage listening = renderHUD(HUDMode::listening(false), {}, 1.0);
    EXPECT_EQ(extent(noLock, whiteish).right, extent(withLock, whiteish).right);
    EXPECT_NE(extent(listening, whiteish).right, extent(withLock, whiteish).right);
}

TEST(HUDDrawing, CentredLineCentresIconAndTextTogether) {
    // An empty text leaves the 8-point gap, so the icon sits 4 points left of the centre.
    const QImage iconOnly = renderHUD(HUDMode::done(QString()));
    const Box icon = extent(iconOnly, greenish);
    ASSERT_FALSE(icon.empty());
    EXPECT_NEAR(icon.centre(), 155 - 4, 1.0);
    EXPECT_TRUE(extent(iconOnly, whiteish).empty());

    // Without the symbol the text is centred on its own; with it, the text moves right by half
    // of the icon and its gap.
    const QString text = QStringLiteral("Copiado");
    const Box alone = extent(renderHUD(HUDMode::done(text), {}, 0, noSymbol), whiteish);
    const QImage both = renderHUD(HUDMode::done(text));
    const Box shifted = extent(both, whiteish);
    ASSERT_FALSE(alone.empty());
    EXPECT_NEAR(alone.centre(), 155, 2.0);
    EXPECT_TRUE(extent(renderHUD(HUDMode::done(text), {}, 0, noSymbol), greenish).empty());
    const double iconWidth = defaultSymbol(Glyph::checkCircleFill, Qt::green, 15, 1).width();
    EXPECT_NEAR(shifted.centre() - alone.centre(), (iconWidth + 8) / 2, 1.0);
    EXPECT_LT(extent(both, greenish).right, shifted.left);
}

TEST(HUDDrawing, MessageTakesItsColour) {
    const QImage image = renderHUD(HUDMode::message(QStringLiteral("Sin voz"), HUDColors::orange));
    const Box text = extent(image, whiteish);
    const Box icon = extent(image, [](const QColor& c) {
        return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 60;
    });
    ASSERT_FALSE(icon.empty());
    EXPECT_LT(icon.right, text.left);
    EXPECT_TRUE(extent(image, greenish).empty());
}

TEST(HUDDrawing, CapsuleBackgroundAndBorder) {
    const QImage image = renderHUD(HUDMode::loading(), {}, 0);
    // Corners outside the capsule stay transparent.
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(image.pixelColor(309, 47).alpha(), 0);
    expectColor(image.pixelColor(260, 40), background, "fill");
    // The border's 1-point line straddles nothing: it lies on the outermost row.
    expectColor(image.pixelColor(155, 0), over(QColor::fromRgbF(1, 1, 1, 0.14), background),
                "border");
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
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        const QSize size = hudSize(c.mode, &image).toSize();
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paintHUD(painter, c.mode, {}, 0, QSizeF(size));
        }
        // The content is whatever is clearly more opaque than the translucent fill; the rows
        // are kept away from the rounded ends, where the border curves in.
        int left = size.width(), right = -1;
        for (int y = 16; y <= 32; ++y) {
            for (int x = 3; x < size.width() - 3; ++x) {
                if (image.pixelColor(x, y).alphaF() > 0.6) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        ASSERT_GE(right, 0) << c.name;
        const int rightMargin = size.width() - 1 - right;
        EXPECT_NEAR(left, rightMargin, 3) << c.name << ": " << left << " vs " << rightMargin;
        EXPECT_GE(rightMargin, 12) << c.name;
    }
}

} // namespace
} // namespace vozmo
