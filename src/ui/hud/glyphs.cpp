#include "glyphs.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QPixmap>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>

namespace vozmo {

namespace {

// Shapes are written in a unit square but combined at this scale: Qt flattens curves before
// boolean operations and strokes, and in unit coordinates the circles would turn polygonal.
constexpr double kDesign = 1000;

QPainterPath up(const QPainterPath& path) {
    return QTransform::fromScale(kDesign, kDesign).map(path);
}

QPainterPath down(const QPainterPath& path) {
    return QTransform::fromScale(1 / kDesign, 1 / kDesign).map(path);
}

QPainterPath stroked(const QPainterPath& line, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width * kDesign);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(up(line)).simplified();
}

QPainterPath circle(double cx, double cy, double r) {
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return up(path);
}

QPainterPath ring(double cx, double cy, double r, double width) {
    return circle(cx, cy, r + width / 2).subtracted(circle(cx, cy, r - width / 2));
}

QPainterPath roundedRect(double x, double y, double w, double h, double r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return up(path);
}

// Vertical bars centred on y = 0.5; heights are fractions of `span`.
QPainterPath bars(double left, double step, double width, std::initializer_list<double> heights,
                  double span) {
    QPainterPath path;
    double x = left;
    for (double h : heights) {
        double height = h * span;
        path.addRoundedRect(QRectF(x, 0.5 - height / 2, width, height), width / 2, width / 2);
        x += step;
    }
    return up(path);
}

QPainterPath waveform() {
    return bars(0.08, 0.18, 0.12, {0.35, 0.7, 1.0, 0.6, 0.3}, 0.9);
}

QPainterPath hourglass() {
    QPainterPath glass;
    glass.moveTo(0.25, 0.1);
    glass.lineTo(0.75, 0.1);
    glass.lineTo(0.75, 0.2);
    glass.cubicTo(0.75, 0.38, 0.56, 0.44, 0.56, 0.5);
    glass.cubicTo(0.56, 0.56, 0.75, 0.62, 0.75, 0.8);
    glass.lineTo(0.75, 0.9);
    glass.lineTo(0.25, 0.9);
    glass.lineTo(0.25, 0.8);
    glass.cubicTo(0.25, 0.62, 0.44, 0.56, 0.44, 0.5);
    glass.cubicTo(0.44, 0.44, 0.25, 0.38, 0.25, 0.2);
    glass.closeSubpath();
    QPainterPath outline = stroked(glass, 0.08);
    QPainterPath caps = roundedRect(0.16, 0.04, 0.68, 0.09, 0.045)
                            .united(roundedRect(0.16, 0.87, 0.68, 0.09, 0.045));
    QPainterPath sand;
    sand.moveTo(0.33, 0.84);
    sand.lineTo(0.67, 0.84);
    sand.cubicTo(0.62, 0.72, 0.53, 0.68, 0.5, 0.66);
    sand.cubicTo(0.47, 0.68, 0.38, 0.72, 0.33, 0.84);
    sand.closeSubpath();
    return outline.united(caps).united(up(sand));
}

QPainterPath waveformCircleFill() {
    QPainterPath inner = bars(0.27, 0.12, 0.08, {0.3, 0.65, 1.0, 0.55, 0.3}, 0.5);
    return circle(0.5, 0.5, 0.48).subtracted(inner);
}

QPainterPath ellipsisCircle() {
    QPainterPath path = ring(0.5, 0.5, 0.43, 0.08);
    for (double x : {0.3, 0.5, 0.7}) {
        path = path.united(circle(x, 0.5, 0.06));
    }
    return path;
}

QPainterPath padlock() {
    QPainterPath shackle;
    shackle.moveTo(0.3, 0.48);
    shackle.lineTo(0.3, 0.3);
    shackle.arcTo(QRectF(0.3, 0.08, 0.4, 0.4), 180, -180);
    shackle.lineTo(0.7, 0.48);
    return stroked(shackle, 0.11).united(roundedRect(0.17, 0.42, 0.66, 0.52, 0.1));
}

QPainterPath checkCircleFill() {
    QPainterPath check;
    check.moveTo(0.29, 0.52);
    check.lineTo(0.44, 0.67);
    check.lineTo(0.71, 0.35);
    return circle(0.5, 0.5, 0.48).subtracted(stroked(check, 0.1));
}

QPainterPath infoCircleFill() {
    QPainterPath letter = circle(0.5, 0.29, 0.065);
    QPainterPath stem;
    stem.moveTo(0.5, 0.45);
    stem.lineTo(0.5, 0.74);
    letter = letter.united(stroked(stem, 0.11));
    return circle(0.5, 0.5, 0.48).subtracted(letter);
}

QPainterPath downloadArrow() {
    QPainterPath arrow;
    arrow.moveTo(0.5, 0.08);
    arrow.lineTo(0.5, 0.66);
    QPainterPath head;
    head.moveTo(0.26, 0.44);
    head.lineTo(0.5, 0.68);
    head.lineTo(0.74, 0.44);
    QPainterPath tray;
    tray.moveTo(0.14, 0.72);
    tray.lineTo(0.14, 0.9);
    tray.lineTo(0.86, 0.9);
    tray.lineTo(0.86, 0.72);
    return stroked(arrow, 0.1).united(stroked(head, 0.1)).united(stroked(tray, 0.09));
}

QPainterPath microphone() {
    QPainterPath body = roundedRect(0.35, 0.05, 0.3, 0.52, 0.15);
    QPainterPath holder;
    holder.moveTo(0.22, 0.42);
    holder.arcTo(QRectF(0.22, 0.2, 0.56, 0.5), 180, 180);
    QPainterPath stand;
    stand.moveTo(0.5, 0.7);
    stand.lineTo(0.5, 0.88);
    stand.moveTo(0.33, 0.9);
    stand.lineTo(0.67, 0.9);
    return body.united(stroked(holder, 0.08)).united(stroked(stand, 0.08));
}

QPainterPath raisedHand() {
    QPainterPath hand = roundedRect(0.24, 0.42, 0.5, 0.5, 0.18);
    const double fingers[][3] = {
        {0.25, 0.18, 0.3}, {0.37, 0.08, 0.4}, {0.49, 0.1, 0.38}, {0.61, 0.2, 0.3}};
    for (const auto& f : fingers) {
        hand = hand.united(roundedRect(f[0], f[1], 0.11, f[2] + 0.12, 0.055));
    }
    QPainterPath thumb;
    thumb.moveTo(0.7, 0.66);
    thumb.lineTo(0.86, 0.46);
    return hand.united(stroked(thumb, 0.12));
}

QPainterPath globe() {
    const double w = 0.07;
    QPainterPath path = ring(0.5, 0.5, 0.43, w);
    QPainterPath meridian;
    meridian.addEllipse(QRectF(0.31, 0.07, 0.38, 0.86));
    QPainterPath lines;
    lines.moveTo(0.5, 0.07);
    lines.lineTo(0.5, 0.93);
    lines.moveTo(0.07, 0.5);
    lines.lineTo(0.93, 0.5);
    lines.moveTo(0.16, 0.28);
    lines.lineTo(0.84, 0.28);
    lines.moveTo(0.16, 0.72);
    lines.lineTo(0.84, 0.72);
    QPainterPath inside = stroked(meridian, w).united(stroked(lines, w));
    return path.united(inside.intersected(circle(0.5, 0.5, 0.43)));
}

QPainterPath designPath(Glyph glyph) {
    switch (glyph) {
    case Glyph::waveform:
        return waveform();
    case Glyph::hourglass:
        return hourglass();
    case Glyph::waveformCircleFill:
        return waveformCircleFill();
    case Glyph::ellipsisCircle:
        return ellipsisCircle();
    case Glyph::padlock:
        return padlock();
    case Glyph::checkCircleFill:
        return checkCircleFill();
    case Glyph::infoCircleFill:
        return infoCircleFill();
    case Glyph::downloadArrow:
        return downloadArrow();
    case Glyph::microphone:
        return microphone();
    case Glyph::raisedHand:
        return raisedHand();
    case Glyph::globe:
        return globe();
    }
    return {};
}

} // namespace

QPainterPath glyphPath(Glyph glyph) { return down(designPath(glyph)); }

void paintGlyph(QPainter& painter, Glyph glyph, const QRectF& rect, const QColor& color) {
    // Paths are built once per glyph: the panel paints one every frame.
    static const auto cache = [] {
        std::array<QPainterPath, static_cast<std::size_t>(Glyph::globe) + 1> paths;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            paths[i] = glyphPath(static_cast<Glyph>(i));
        }
        return paths;
    }();
    const double side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side, side);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(cache[static_cast<std::size_t>(glyph)]);
    painter.restore();
}

QImage glyphImage(Glyph glyph, const QColor& color, double side, double devicePixelRatio) {
    const int pixels = std::max(1, static_cast<int>(std::ceil(side * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&image);
    paintGlyph(painter, glyph, QRectF(0, 0, pixels / devicePixelRatio, pixels / devicePixelRatio),
               color);
    return image;
}

QIcon glyphIcon(Glyph glyph, const QColor& color) {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(glyphImage(glyph, color, side)));
    }
    return icon;
}

} // namespace vozmo
