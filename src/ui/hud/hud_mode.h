#pragma once

#include <QColor>
#include <QString>

namespace vozmo {

// The accent colours of a dark desktop theme, used for markers, icons and messages.
namespace HUDColors {
inline const QColor red = QColor(255, 69, 58);
inline const QColor orange = QColor(255, 159, 10);
inline const QColor green = QColor(48, 209, 88);
inline const QColor grey = QColor(152, 152, 157);
} // namespace HUDColors

// What the heads-up panel shows. Build one with the named constructors.
struct HUDMode {
    enum class Kind { listening, done, message, loading, transcribing, polishing };

    Kind kind = Kind::loading;
    bool locked = false; // listening: hands-free recording
    QString text;        // done, message
    QColor color;        // message

    static HUDMode listening(bool locked) { return {Kind::listening, locked, {}, {}}; }
    static HUDMode done(const QString& text) { return {Kind::done, false, text, {}}; }
    static HUDMode message(const QString& text, const QColor& color) {
        return {Kind::message, false, text, color};
    }
    static HUDMode loading() { return {Kind::loading, false, {}, {}}; }
    static HUDMode transcribing() { return {Kind::transcribing, false, {}, {}}; }
    static HUDMode polishing() { return {Kind::polishing, false, {}, {}}; }

    bool operator==(const HUDMode&) const = default;
};

} // namespace vozmo
