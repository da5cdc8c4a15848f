#pragma once

#include <QColor>
#include <QPixmap>

namespace vozmo {

// The symbols of the setup window's rows, from the project's own glyph set.
enum class SetupGlyph { Download, Microphone, RaisedHand, Globe };

// A rounded tile filled with a gradient of `tint`, the glyph on it in white.
QPixmap setupTile(SetupGlyph glyph, const QColor& tint, int size, qreal ratio);
// A check mark in a filled green circle.
QPixmap setupCheck(int size, qreal ratio);
// The application's icon: a waveform on a rounded tile.
QPixmap setupAppIcon(int size, qreal ratio);

} // namespace vozmo
