#pragma once

#include <QColor>
#include <QPixmap>

namespace vozmo {

// The few symbols of the setup window, drawn here so they look alike on every desktop.
enum class SetupGlyph { Download, Microphone, RaisedHand, Globe };

// A rounded tile filled with a gradient of `tint`, the glyph on it in white.
QPixmap setupTile(SetupGlyph glyph, const QColor& tint, int size, qreal ratio);
// A check mark in a filled green circle.
QPixmap setupCheck(int size, qreal ratio);
// The application's icon: a waveform on a rounded tile.
QPixmap setupAppIcon(int size, qreal ratio);

} // namespace vozmo
