#pragma once

#include "hud_mode.h"
#include "hud_view.h"

#include <QObject>
#include <QPointer>
#include <QSize>

#include <memory>
#include <optional>

class QPropertyAnimation;
class QTimer;

namespace vozmo {

// The floating heads-up panel: never focused, transparent to the mouse, at the bottom centre
// of the screen under the mouse. Main thread only.
class HUD : public QObject {
    Q_OBJECT
public:
    explicit HUD(QObject* parent = nullptr);
    ~HUD() override;

    // Shows the mode; places and fades the panel in unless it is already fully shown.
    void show(const HUDMode& mode);
    // Fades the panel out after `seconds`, unless a later show comes first.
    void hide(double seconds);
    void flash(const HUDMode& mode, double seconds = 1.4);
    // Stores one level; the animation timer redraws.
    void push(float level);

    // For the application and its tests.
    HUDView& view() { return *view_; }
    bool animating() const;

private:
    void fitTo(const HUDMode& mode);
    void fadeTo(double opacity, int milliseconds);
    void fadeFinished();
    void tick();

    std::unique_ptr<HUDView> view_;
    QTimer* timer_ = nullptr;            // owned by this object
    QPropertyAnimation* fade_ = nullptr; // owned by this object
    int token_ = 0;
    std::optional<int> removeAfterFade_; // token captured by the hide being faded out
};

} // namespace vozmo
