#include "hud.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

// Last: Xlib's macros (None, Bool, Status) clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace vozmo {
namespace {

// Runs the event loop until `condition` holds; generous, since the machine may be slow.
bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

bool fullyShown(HUD& hud) {
    return hud.view().isVisible() && hud.view().windowOpacity() >= 1.0;
}

class X11 {
public:
    X11() : display_(XOpenDisplay(nullptr)) {}
    ~X11() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    X11(const X11&) = delete;
    X11& operator=(const X11&) = delete;
    Display* display() const { return display_; }

    Window activeWindow() const {
        Atom property = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window active = None;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), property, 0, 1, False,
                               XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
            data != nullptr) {
            if (count == 1 && format == 32) {
                active = *reinterpret_cast<Window*>(data);
            }
            XFree(data);
        }
        return active;
    }

    // Where the server has the window, in root coordinates.
    QPoint position(Window window) const {
        int x = 0, y = 0;
        Window child = None;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y};
    }

    bool overrideRedirect(Window window) const {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        return attributes.override_redirect != 0;
    }

private:
    Display* display_;
};

class HUDPanel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "runs on the test desktop";
        ASSERT_NE(x11.display(), nullptr);
    }

    QPoint expectedPosition(const QSize& size) const {
        const QRect area = QGuiApplication::screenAt(QCursor::pos())->availableGeometry();
        return {area.x() + area.width() / 2 - size.width() / 2,
                area.y() + area.height() - 36 - size.height()};
    }

    X11 x11;
};

TEST_F(HUDPanel, AppearsAtTheBottomCentreWithoutTakingFocus) {
    QWidget editor;
    editor.setWindowTitle(QStringLiteral("editor"));
    editor.resize(400, 300);
    editor.show();
    // The window manager may still be starting with the desktop: ask again until it obliges.
    int tries = 0;
    ASSERT_TRUE(waitFor([&] {
        if (tries++ % 50 == 0) {
            editor.activateWindow();
        }
        return QGuiApplication::focusWindow() == editor.windowHandle() &&
               x11.activeWindow() == editor.winId();
    }));

    QCursor::setPos(300, 200);
    HUD hud;
    EXPECT_FALSE(hud.view().isVisible());
    EXPECT_FALSE(hud.animating());
    hud.show(HUDMode::listening(false));
    ASSERT_TRUE(waitFor([&] { return fullyShown(hud); }));
    const Window panel = hud.view().winId();
    XSync(x11.display(), False);

    EXPECT_TRUE(x11.overrideRedirect(panel));
    const QSize size = hudSize(HUDMode::listening(false), &hud.view()).toSize();
    EXPECT_EQ(hud.view().size(), size);
    EXPECT_TRUE(waitFor([&] { return x11.position(panel) == expectedPosition(size); }))
        << x11.position(panel).x() << "," << x11.position(panel).y();

    // Give the window manager time to react to the new window before looking at focus.
    QTest::qWait(300);
    EXPECT_EQ(QGuiApplication::focusWindow(), editor.windowHandle());
    EXPECT_EQ(x11.activeWindow(), editor.winId());
    EXPECT_NE(x11.activeWindow(), panel);
    EXPECT_TRUE(hud.view().windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(hud.view().windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
}

TEST_F(HUDPanel, ANewerShowBeatsAnOlderPendingHide) {
    HUD hud;
    hud.show(HUDMode::transcribing());
    ASSERT_TRUE(waitFor([&] { return fullyShown(hud); }));
    hud.hide(2);
    QTest::qWait(1000);
    hud.show(HUDMode::done(QStringLiteral("Hola")));
    QTest::qWait(1800); // past the moment the first hide was due
    EXPECT_TRUE(fullyShown(hud));
    EXPECT_EQ(hud.view().mode(), HUDMode::done(QStringLiteral("Hola")));
}

TEST_F(HUDPanel, HideAfterZeroFadesOnTheNextTurnAndStopsTheTimer) {
    HUD hud;
    hud.show(HUDMode::loading());
    ASSERT_TRUE(waitFor([&] { return fullyShown(hud); }));
    EXPECT_TRUE(hud.animating());
    hud.hide(0);
    EXPECT_TRUE(fullyShown(hud)); // not at once: on the next turn of the event loop
    ASSERT_TRUE(waitFor([&] { return !hud.view().isVisible(); }));
    EXPECT_FALSE(hud.animating());

    // While hidden, levels are stored but the phase stands still.
    const double phase = hud.view().phase();
    hud.push(1.0f);
    QTest::qWait(200);
    EXPECT_EQ(hud.view().phase(), phase);
    EXPECT_EQ(hud.view().levels().back(), 1.0);

    // A second hide with no show between them has nothing left to do.
    hud.hide(0);
    QTest::qWait(300);
    EXPECT_FALSE(hud.view().isVisible());
}

TEST_F(HUDPanel, AShowDuringTheFadeOutKeepsThePanelUp) {
    HUD hud;
    hud.show(HUDMode::loading());
    ASSERT_TRUE(waitFor([&] { return fullyShown(hud); }));
    hud.hide(0);
    ASSERT_TRUE(waitFor([&] { return hud.view().windowOpacity() < 1.0; }));
    hud.show(HUDMode::polishing());
    QTest::qWait(600);
    EXPECT_TRUE(fullyShown(hud));
    EXPECT_TRUE(hud.animating());
    EXPECT_EQ(hud.view().mode(), HUDMode::polishing());
}

TEST_F(HUDPanel, ShowWhileFullyShownChangesOnlyTheMode) {
    HUD hud;
    hud.show(HUDMode::listening(false));
    ASSERT_TRUE(waitFor([&] { return fullyShown(hud); }));
    const double phase = hud.view().phase();
    ASSERT_TRUE(waitFor([&] { return hud.view().phase() > phase; })) << "animates while shown";

    hud.view().move(10, 10);
    const Window panel = hud.view().winId();
    ASSERT_TRUE(waitFor([&] { return x11.position(panel) == QPoint(10, 10); }));
    const int oldWidth = hud.view().width();
    hud.show(HUDMode::listening(true));
    QTest::qWait(200);
    // Not placed again: a capsule that changes width for its new text keeps its centre.
    EXPECT_EQ(x11.position(panel), QPoint(10 + (oldWidth - hud.view().width()) / 2, 10));
    EXPECT_EQ(hud.view().mode(), HUDMode::listening(true));
    EXPECT_TRUE(fullyShown(hud));
}

TEST_F(HUDPanel, FlashHidesAfterItsTime) {
    HUD hud;
    hud.flash(HUDMode::done(QStringLiteral("Copiado")), 0.3);
    ASSERT_TRUE(waitFor([&] { return hud.view().isVisible(); }));
    EXPECT_TRUE(waitFor([&] { return !hud.view().isVisible(); }));
}

} // namespace
} // namespace vozmo
