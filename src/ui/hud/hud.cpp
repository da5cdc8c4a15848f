#include "hud.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

namespace vozmo {

namespace {

constexpr int kFadeInMs = 150;
constexpr int kFadeOutMs = 120;
constexpr int kFrameMs = 33; // 1/30 s
constexpr double kPhaseStep = 0.12;
constexpr int kBottomGap = 36;

QScreen* screenUnderMouse() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

} // namespace

HUD::HUD(QObject* parent) : QObject(parent), view_(std::make_unique<HUDView>()) {
    // A tool window the window manager leaves alone (override-redirect on X11): it is never
    // decorated, never focused, and clicks fall through to whatever lies beneath.
    view_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
    view_->setAttribute(Qt::WA_ShowWithoutActivating);
    view_->setAttribute(Qt::WA_TransparentForMouseEvents);
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setWindowTitle(QStringLiteral("Vozmo"));
    view_->setFixedSize(hudSize(view_->mode(), view_.get()).toSize());
    view_->setWindowOpacity(0);

    timer_ = new QTimer(this);
    timer_->setInterval(kFrameMs);
    connect(timer_, &QTimer::timeout, this, &HUD::tick);

    fade_ = new QPropertyAnimation(view_.get(), "windowOpacity", this);
    connect(fade_, &QPropertyAnimation::finished, this, &HUD::fadeFinished);
}

HUD::~HUD() {
    // The animation targets the view; stop it before the view goes.
    fade_->stop();
}

void HUD::show(const HUDMode& mode) {
    ++token_;
    view_->setMode(mode);
    fitTo(mode);
    const bool fadingOut =
        removeAfterFade_.has_value() && fade_->state() == QAbstractAnimation::Running;
    if (view_->isVisible() && view_->windowOpacity() >= 1.0 && !fadingOut) {
        return;
    }
    removeAfterFade_.reset();
    if (QScreen* screen = screenUnderMouse()) {
        const QRect area = screen->availableGeometry();
        const QSize size = view_->size();
        const int x = area.x() + area.width() / 2 - size.width() / 2;
        const int y = area.y() + area.height() - kBottomGap - size.height();
        view_->move(x, y);
    }
    if (!view_->isVisible()) {
        view_->setWindowOpacity(0);
        view_->show();
    }
    view_->raise();
    timer_->start();
    fadeTo(1.0, kFadeInMs);
}

void HUD::fitTo(const HUDMode& mode) {
    const QSize wanted = hudSize(mode, view_.get()).toSize();
    const QSize now = view_->size();
    if (wanted == now) {
        return;
    }
    // Grow or shrink about the same centre, so the panel stays where the eye is.
    const QPoint centred = view_->pos() + QPoint((now.width() - wanted.width()) / 2, 0);
    view_->setFixedSize(wanted);
    if (view_->isVisible()) {
        view_->move(centred);
    }
}

void HUD::hide(double seconds) {
    const int captured = token_;
    QTimer::singleShot(std::max(0, static_cast<int>(seconds * 1000.0)), this, [this, captured] {
        if (token_ != captured) {
            return;
        }
        removeAfterFade_ = captured;
        fadeTo(0.0, kFadeOutMs);
    });
}

void HUD::flash(const HUDMode& mode, double seconds) {
    show(mode);
    hide(seconds);
}

void HUD::push(float level) {
    view_->push(level);
}

bool HUD::animating() const {
    return timer_->isActive();
}

void HUD::fadeTo(double opacity, int milliseconds) {
    fade_->stop();
    fade_->setDuration(milliseconds);
    fade_->setStartValue(view_->windowOpacity());
    fade_->setEndValue(opacity);
    fade_->start();
}

void HUD::fadeFinished() {
    if (!removeAfterFade_ || *removeAfterFade_ != token_) {
        return;
    }
    removeAfterFade_.reset();
    view_->hide();
    // Nothing is drawn while hidden, so the frame timer rests too.
    timer_->stop();
}

void HUD::tick() {
    if (view_->isVisible()) {
        view_->advance(kPhaseStep);
    }
}

} // namespace vozmo
