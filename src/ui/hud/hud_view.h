#pragma once

#include "glyphs.h"
#include "hud_mode.h"

#include <QWidget>

#include <array>
#include <functional>

class QPainter;

namespace vozmo {

inline constexpr int kHUDBars = 26;
using Levels = std::array<double, kHUDBars>;

// Gives the tinted image of a glyph at a point size, or a null image when there is none.
using SymbolSource = std::function<QImage(Glyph glyph, const QColor& color, double pointSize,
                                          double devicePixelRatio)>;

// The project's glyphs, square, one point size per side.
QImage defaultSymbol(Glyph glyph, const QColor& color, double pointSize, double devicePixelRatio);

// The capsule that fits a mode's content with the same margin on both sides, for text drawn on
// `device` (96 dpi when null).
QSizeF hudSize(const HUDMode& mode, const QPaintDevice* device = nullptr);

// The bar height (0 to 1) that one recorder level gives.
double levelBar(float level);

// Draws the whole panel content for a mode; a pure function of its arguments, so it can be
// rendered into an image. `symbol` defaults to the project's glyphs.
void paintHUD(QPainter& painter, const HUDMode& mode, const Levels& levels, double phase,
              const QSizeF& size, const SymbolSource& symbol = defaultSymbol);

// The dark capsule that stands in for a blurred backdrop behind the content.
void paintHUDBackdrop(QPainter& painter, const QSizeF& size);

// The panel's content: the current mode, the recent levels and the animation phase.
class HUDView : public QWidget {
    Q_OBJECT
public:
    explicit HUDView(QWidget* parent = nullptr);

    const HUDMode& mode() const { return mode_; }
    void setMode(const HUDMode& mode);
    const Levels& levels() const { return levels_; }
    double phase() const { return phase_; }
    void advance(double step);

    // Adds one level bar; redrawing is left to the animation timer.
    void push(float level);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HUDMode mode_ = HUDMode::loading();
    Levels levels_{};
    double phase_ = 0;
};

} // namespace vozmo
