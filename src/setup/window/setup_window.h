#pragma once

#include "setup.h"
#include "setup_environment.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLayout;
class QProgressBar;
class QPushButton;

namespace vozmo {

class StepRow;

// The first-run window: header, the four step rows and "Empezar". Holds no state of its own:
// it re-reads Setup on every change and calls Setup's actions from its buttons. A dialog, so
// Return activates "Empezar"; closing it only hides it.
class SetupWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 560;

    explicit SetupWindow(Setup& setup, QWidget* parent = nullptr);
    ~SetupWindow() override;

    // Run by "Empezar".
    std::function<void()> onDone;

    // Without a tray icon this window is the only way to Vozmo: it says so and offers to quit.
    void setTrayMissing(bool missing);

protected:
    // The desktop checks run only while someone can see their answer.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Each makes one part of the window, top to bottom, and keeps its controls.
    QLayout* buildHeader();
    QWidget* buildTrayNotice();
    QWidget* buildModelsRow();
    QWidget* buildModelChoice();
    QWidget* buildMicRow();
    QWidget* buildKeyAndPasteRow();
    QWidget* buildHotkeyRow();
    QLayout* buildFooter();

    void updateFromSetup();
    void updateModelsRow();
    void updateMicRow();
    void updateAccessRow();
    void updateFnRow();
    void updateModelChoice();
    void fixHeight();

    Setup& setup_;
    StepRow* models_ = nullptr;
    StepRow* mic_ = nullptr;
    StepRow* access_ = nullptr;
    StepRow* fn_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* chooseKey_ = nullptr;
    QPushButton* serversHelp_ = nullptr;
    // The version of each model: fast or accurate, with its size and speed.
    QComboBox* speechModel_ = nullptr;
    QComboBox* polishModel_ = nullptr;
    QLabel* speechSpeed_ = nullptr;
    QLabel* polishSpeed_ = nullptr;
    QLabel* machineNote_ = nullptr;
    QPushButton* modelsHelp_ = nullptr;
    QPushButton* micHelp_ = nullptr;
    QPushButton* fnCancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* micButton_ = nullptr;
    QPushButton* accessButton_ = nullptr;
    QPushButton* fnButton_ = nullptr;
    QPushButton* rightAlt_ = nullptr;
    QLabel* hint_ = nullptr;
    QLabel* trayNotice_ = nullptr;
    QPushButton* quit_ = nullptr;
    QPushButton* start_ = nullptr;
};

// Owns the one setup window of the run: made on first use, hidden on close, shown again with
// the current state.
class SetupWindowHost {
public:
    explicit SetupWindowHost(Setup& setup);
    ~SetupWindowHost();
    SetupWindowHost(const SetupWindowHost&) = delete;
    SetupWindowHost& operator=(const SetupWindowHost&) = delete;

    // Creates the window the first time, then shows it, raised and active.
    void showSetup();
    // The same, but leaves the keyboard focus where it is (for a window nobody asked for).
    void showSetupWithoutFocus();
    // The window, or nullptr before the first showSetup().
    SetupWindow* window() const { return window_.get(); }
    // Passed on to the window, now or when it is made.
    void setTrayMissing(bool missing);

private:
    void show(bool takeFocus);

    Setup& setup_;
    bool trayMissing_ = false;
    std::unique_ptr<SetupWindow> window_;
};

// The desktop parts of SetupEnvironment: key access on the X server, the sound settings, the
// built-in help and findBinary. The application adds micStatus and watchFnKey.
SetupEnvironment desktopSetupEnvironment();

} // namespace vozmo
