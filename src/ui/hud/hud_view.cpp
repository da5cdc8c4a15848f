#include "hud_view.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace vozmo {

namespace {

constexpr double kBarLeft = 44;
constexpr double kBarStep = 6.2;
constexpr double kBarWidth = 3;
constexpr double kMarkerX = 24;
constexpr double kLabelX = 214;
// The space between the capsule's edge and its content, the same on both sides: the marker
// starts this far in from the left, the label ends this far from the right.
constexpr double kSideMargin = 17.5;
constexpr double kCentredMargin = 24;
constexpr double kCentredMinWidth = 310;
constexpr double kHeight = 48;
constexpr double kLabelPixels = 12.5;
constexpr double kCentredPixels = 13;
constexpr double kCentredIcon = 15;
constexpr double kCentredIconGap = 8;

QColor gray(double white, double alpha) {
    return QColor::fromRgbF(white, white, white, alpha);
}

QColor rgb(double r, double g, double b, double a) {
    return QColor::fromRgbF(r, g, b, a);
}

// Sizes are given in logical pixels; fonts want points at the device's resolution.
QFont hudFont(const QPaintDevice* device, double pixels, QFont::Weight weight) {
    const double dpi = device != nullptr && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
    QFont font;
    font.setPointSizeF(pixels * 72.0 / dpi);
    font.setWeight(weight);
    return font;
}

QFont hudFont(const QPainter& painter, double pixels, QFont::Weight weight) {
    return hudFont(painter.device(), pixels, weight);
}

QString busyLabel(HUDMode::Kind kind) {
    switch (kind) {
    case HUDMode::Kind::transcribing:
        return QStringLiteral("Transcribiendo");
    case HUDMode::Kind::polishing:
        return QStringLiteral("Puliendo");
    default:
        return QStringLiteral("Cargando IA");
    }
}

QString listeningLabel(bool locked) {
    return locked ? QStringLiteral("Manos libres") : QStringLiteral("Escuchando");
}

QPainterPath capsule(const QRectF& rect) {
    QPainterPath path;
    const double radius = rect.height() / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void bar(QPainter& painter, int i, double h, double midY, const QColor& color) {
    QPainterPath path;
    path.addRoundedRect(QRectF(kBarLeft + kBarStep * i, midY - h / 2, kBarWidth, h), 1.5, 1.5);
    painter.fillPath(path, color);
}

void label(QPainter& painter, const QString& text, double x, const QColor& color, double midY) {
    const QFont font = hudFont(painter, kLabelPixels, QFont::Medium);
    const QFontMetricsF metrics(font, painter.device());
    const double height = metrics.height();
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(x, midY - height / 2, metrics.horizontalAdvance(text) + 2, height),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

double devicePixelRatio(const QPainter& painter) {
    return painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
}

void centered(QPainter& painter, Glyph glyph, const QColor& color, const QString& text,
              const QSizeF& size, const SymbolSource& symbol) {
    const QFont font = hudFont(painter, kCentredPixels, QFont::DemiBold);
    const QFontMetricsF metrics(font, painter.device());
    const double textWidth = metrics.horizontalAdvance(text);
    const double textHeight = metrics.height();
    const QImage icon =
        symbol ? symbol(glyph, color, kCentredIcon, devicePixelRatio(painter)) : QImage();
    const QSizeF iconSize = icon.isNull() ? QSizeF() : icon.deviceIndependentSize();
    const double iconWidth = icon.isNull() ? 0 : iconSize.width() + kCentredIconGap;
    const double midY = size.height() / 2;
    double x = size.width() / 2 - (iconWidth + textWidth) / 2;
    if (!icon.isNull()) {
        painter.drawImage(QPointF(x, midY - iconSize.height() / 2), icon);
        x += iconWidth;
    }
    if (text.isEmpty()) {
        return;
    }
    painter.setFont(font);
    painter.setPen(gray(1.0, 0.95));
    // Neither wrapped nor truncated: the rectangle is as wide as the text.
    painter.drawText(QRectF(x, midY - textHeight / 2, textWidth + 2, textHeight),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void paintListening(QPainter& painter, bool locked, const Levels& levels, double phase,
                    const QSizeF& size, const SymbolSource& symbol) {
    const double midY = size.height() / 2;
    const QImage lock =
        locked && symbol ? symbol(Glyph::padlock, HUDColors::orange, 12, devicePixelRatio(painter))
                         : QImage();
    if (!lock.isNull()) {
        const QSizeF lockSize = lock.deviceIndependentSize();
        painter.drawImage(QPointF(kMarkerX - lockSize.width() / 2, midY - lockSize.height() / 2),
                          lock);
    } else {
        QColor red = HUDColors::red;
        red.setAlphaF(std::abs(std::sin(phase)) * 0.45 + 0.55);
        painter.setPen(Qt::NoPen);
        painter.setBrush(red);
        painter.drawEllipse(QRectF(18, midY - 6, 12, 12));
    }
    for (int i = 0; i < kHUDBars; ++i) {
        const double t = static_cast<double>(i) / (kHUDBars - 1);
        const double h = std::max((size.height() - 18) * levels[i], 3.0);
        bar(painter, i, h, midY, rgb(0.2 + 0.45 * t, 0.8 - 0.4 * t, 1, 1));
    }
    label(painter, listeningLabel(locked), kLabelX, gray(1.0, 0.92), midY);
}

void paintBusy(QPainter& painter, HUDMode::Kind kind, double phase, const QSizeF& size) {
    const double midY = size.height() / 2;
    const QString text = busyLabel(kind);
    QColor spinner;
    switch (kind) {
    case HUDMode::Kind::transcribing:
        spinner = rgb(0.35, 0.75, 1, 1);
        break;
    case HUDMode::Kind::polishing:
        spinner = rgb(0.7, 0.5, 1, 1);
        break;
    default:
        spinner = gray(1.0, 0.8);
        break;
    }
    // Angles count counter-clockwise as on screen, so a growing phase turns the arc clockwise.
    const QRectF circle(kMarkerX - 6.5, midY - 6.5, 13, 13);
    const double start = -120 * phase;
    QPainterPath arc;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, 270);
    QPen pen(spinner, 2.2);
    pen.setCapStyle(Qt::RoundCap);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(pen);
    painter.drawPath(arc);

    const bool polishing = kind == HUDMode::Kind::polishing;
    for (int i = 0; i < kHUDBars; ++i) {
        const double t = static_cast<double>(i) / (kHUDBars - 1);
        const double h =
            std::max((size.height() - 18) * (0.2 * std::sin(2.2 * phase - 0.45 * i) + 0.22), 3.0);
        const QColor color = polishing ? rgb(0.62 + 0.25 * t, 0.42, 1, 0.95)
                                       : rgb(0.2 + 0.45 * t, 0.8 - 0.4 * t, 1, 0.8);
        bar(painter, i, h, midY, color);
    }
    label(painter, text, kLabelX, gray(1.0, 0.92), midY);
}

} // namespace

QImage defaultSymbol(Glyph glyph, const QColor& color, double pointSize, double devicePixelRatio) {
    // Symbols of a point size are a little larger than the size itself, like font glyphs.
    return glyphImage(glyph, color, std::round(pointSize * 1.2), devicePixelRatio);
}

QSizeF hudSize(const HUDMode& mode, const QPaintDevice* device) {
    auto advance = [device](const QString& text, double pixels, QFont::Weight weight) {
        return QFontMetricsF(hudFont(device, pixels, weight), device).horizontalAdvance(text);
    };
    switch (mode.kind) {
    case HUDMode::Kind::listening:
        return {std::ceil(kLabelX +
                          advance(listeningLabel(mode.locked), kLabelPixels, QFont::Medium) +
                          kSideMargin),
                kHeight};
    case HUDMode::Kind::loading:
    case HUDMode::Kind::transcribing:
    case HUDMode::Kind::polishing:
        return {std::ceil(kLabelX + advance(busyLabel(mode.kind), kLabelPixels, QFont::Medium) +
                          kSideMargin),
                kHeight};
    case HUDMode::Kind::done:
    case HUDMode::Kind::message:
        break;
    }
    // Centred content keeps equal margins by construction; a long message widens the capsule.
    const double icon = std::round(kCentredIcon * 1.2) + kCentredIconGap;
    const double content = icon + advance(mode.text, kCentredPixels, QFont::DemiBold);
    return {std::max(kCentredMinWidth, std::ceil(content + 2 * kCentredMargin)), kHeight};
}

double levelBar(float level) {
    // A broken sample (NaN) counts as silence rather than poisoning the bar.
    const float root = level > 0 ? std::sqrt(level) : 0.0f;
    return std::min(std::max(static_cast<double>(root) - 0.04, 0.0) * 2.6, 1.0);
}

void paintHUD(QPainter& painter, const HUDMode& mode, const Levels& levels, double phase,
              const QSizeF& size, const SymbolSource& symbol) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillPath(capsule(QRectF(QPointF(0, 0), size)), gray(0.05, 0.45));
    QPen border(gray(1.0, 0.14), 1);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsule(QRectF(QPointF(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5)));

    switch (mode.kind) {
    case HUDMode::Kind::listening:
        paintListening(painter, mode.locked, levels, phase, size, symbol);
        break;
    case HUDMode::Kind::done:
        centered(painter, Glyph::checkCircleFill, HUDColors::green, mode.text, size, symbol);
        break;
    case HUDMode::Kind::message:
        centered(painter, Glyph::infoCircleFill, mode.color, mode.text, size, symbol);
        break;
    case HUDMode::Kind::loading:
    case HUDMode::Kind::transcribing:
    case HUDMode::Kind::polishing:
        paintBusy(painter, mode.kind, phase, size);
        break;
    }
    painter.restore();
}

void paintHUDBackdrop(QPainter& painter, const QSizeF& size) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(capsule(QRectF(QPointF(0, 0), size)), gray(0.11, 0.86));
    painter.restore();
}

HUDView::HUDView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
}

void HUDView::setMode(const HUDMode& mode) {
    mode_ = mode;
    update();
}

void HUDView::advance(double step) {
    phase_ += step;
    update();
}

void HUDView::push(float level) {
    std::move(levels_.begin() + 1, levels_.end(), levels_.begin());
    levels_.back() = levelBar(level);
}

void HUDView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    paintHUDBackdrop(painter, size());
    paintHUD(painter, mode_, levels_, phase_, size());
}

} // namespace vozmo
