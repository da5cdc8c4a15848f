#pragma once

#include "hud_view.h"

#include <QImage>
#include <QPainter>

namespace vozmo::test {

// The panel content as the view draws it, on a transparent 310 x 48 image.
inline QImage renderHUD(const HUDMode& mode, const Levels& levels = {}, double phase = 0,
                        const SymbolSource& symbol = defaultSymbol) {
    QImage image(310, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintHUD(painter, mode, levels, phase, QSizeF(310, 48), symbol);
    return image;
}

} // namespace vozmo::test
