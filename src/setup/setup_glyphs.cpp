#include "setup_glyphs.h"

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

// Every glyph is drawn in a 100 x 100 box.
void drawGlyph(QPainter& p, SetupGlyph glyph, const QColor& ink, const QColor& cut) {
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    switch (glyph) {
    case SetupGlyph::Download: {
        p.drawEllipse(QRectF(8, 8, 84, 84));
        QPen pen(cut, 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawLine(QPointF(50, 27), QPointF(50, 70));
        p.drawPolyline(QPolygonF({QPointF(33, 54), QPointF(50, 71), QPointF(67, 54)}));
        break;
    }
    case SetupGlyph::Microphone: {
        p.drawRoundedRect(QRectF(36, 8, 28, 52), 14, 14);
        QPen pen(ink, 7, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(24, 26, 52, 48), 180 * 16, 180 * 16);
        p.drawLine(QPointF(50, 74), QPointF(50, 88));
        p.drawLine(QPointF(36, 90), QPointF(64, 90));
        break;
    }
    case SetupGlyph::RaisedHand: {
        p.drawRoundedRect(QRectF(26, 44, 50, 46), 18, 18);
        const qreal fingers[4][2] = {{27, 26}, {39, 12}, {51, 14}, {63, 24}};
        for (const auto& f : fingers) {
            p.drawRoundedRect(QRectF(f[0], f[1], 11, 60 - f[1] + 10), 5.5, 5.5);
        }
        p.save();
        p.translate(78, 58);
        p.rotate(35);
        p.drawRoundedRect(QRectF(-6, -26, 12, 34), 6, 6);
        p.restore();
        break;
    }
    case SetupGlyph::Globe: {
        QPen pen(ink, 6.5);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(10, 10, 80, 80));
        p.drawEllipse(QRectF(33, 10, 34, 80));
        p.drawLine(QPointF(10, 50), QPointF(90, 50));
        p.drawLine(QPointF(50, 10), QPointF(50, 90));
        p.drawArc(QRectF(18, -8, 64, 42), 200 * 16, 140 * 16);
        p.drawArc(QRectF(18, 66, 64, 42), 20 * 16, 140 * 16);
        break;
    }
    }
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
    p.translate((size - glyphSize) / 2, (size - glyphSize) / 2);
    p.scale(glyphSize / 100.0, glyphSize / 100.0);
    drawGlyph(p, glyph, Qt::white, tint);
    return pixmap;
}

QPixmap setupCheck(int size, qreal ratio) {
    QPixmap pixmap = canvas(size, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(52, 199, 89));
    p.drawEllipse(QRectF(2, 2, 96, 96));
    p.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(29, 52), QPointF(44, 67), QPointF(72, 36)}));
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
    p.setPen(QPen(Qt::white, 7.5, Qt::SolidLine, Qt::RoundCap));
    const qreal heights[] = {14, 30, 46, 26, 38, 18};
    for (int i = 0; i < 6; ++i) {
        qreal x = 25 + i * 10;
        qreal h = heights[i];
        p.drawLine(QPointF(x, 50 - h / 2), QPointF(x, 50 + h / 2));
    }
    return pixmap;
}

} // namespace vozmo
