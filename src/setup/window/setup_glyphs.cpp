#include "setup_glyphs.h"

#include "glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vozmo {

namespace {

QPixmap canvas(int size, qreal ratio) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

Glyph sharedGlyph(SetupGlyph glyph) {
    switch (glyph) {
    case SetupGlyph::Download:
        return Glyph::downloadArrow;
    case SetupGlyph::Microphone:
        return Glyph::microphone;
    case SetupGlyph::RaisedHand:
        return Glyph::raisedHand;
    case SetupGlyph::Globe:
        return Glyph::globe;
    }
    return Glyph::globe;
}

} // namespace

QPixmap setupTile(SetupGlyph glyph, const QColor& tint, int size, qreal ratio) {
    QPixmap pixmap = canvas(size, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, tint.lighter(118));
    fill.setColorAt(1, tint);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.24, size * 0.24);
    // The glyph fills the middle half of the tile, like a 17-point symbol on a 38-point tile.
    const qreal glyphSize = size * 0.5;
    const qreal margin = (size - glyphSize) / 2;
    paintGlyph(p, sharedGlyph(glyph), QRectF(margin, margin, glyphSize, glyphSize), Qt::white);
    return pixmap;
}

QPixmap setupCheck(int size, qreal ratio) {
    QPixmap pixmap = canvas(size, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintGlyph(p, Glyph::checkCircleFill, QRectF(0, 0, size, size), QColor(52, 199, 89));
    return pixmap;
}

QPixmap setupAppIcon(int size, qreal ratio) {
    QPixmap pixmap = canvas(size, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    QLinearGradient fill(0, 0, 100, 100);
    fill.setColorAt(0, QColor(88, 86, 214));
    fill.setColorAt(1, QColor(0, 122, 255));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 22, 22);
    paintGlyph(p, Glyph::waveform, QRectF(22, 22, 56, 56), Qt::white);
    return pixmap;
}

} // namespace vozmo
