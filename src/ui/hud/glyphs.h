#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace vozmo {

// The project's own symbols, drawn from paths so they look the same on every desktop.
enum class Glyph {
    waveform,
    hourglass,
    waveformCircleFill,
    ellipsisCircle,
    padlock,
    checkCircleFill,
    infoCircleFill,
    downloadArrow,
    microphone,
    raisedHand,
    globe,
};

// The glyph's outline in a 1 x 1 square (y down); filled with the winding rule.
QPainterPath glyphPath(Glyph glyph);

// Fills the glyph, centred and scaled to the largest square inside `rect`.
void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& rect, const QColor& color);

// A square image of `side` logical pixels at the given device pixel ratio, transparent around
// the tinted glyph.
QImage glyphImage(Glyph glyph, const QColor& color, double side, double devicePixelRatio = 1.0);

// An icon with the usual small sizes rendered (16 to 64 pixels).
QIcon glyphIcon(Glyph glyph, const QColor& color);

} // namespace vozmo
