#pragma once

#include "setup.h"
#include "setup_environment.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>

class QLabel;
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

protected:
    // The desktop checks run only while someone can see their answer.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateFromSetup();
    void updateModelsRow();
    void updateMicRow();
    void updateAccessRow();
    void updateFnRow();

    Setup& setup_;
    StepRow* models_ = nullptr;
    StepRow* mic_ = nullptr;
    StepRow* access_ = nullptr;
    StepRow* fn_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* serversHelp_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* micButton_ = nullptr;
    QPushButton* accessButton_ = nullptr;
    QPushButton* fnButton_ = nullptr;
    QPushButton* rightAlt_ = nullptr;
    QLabel* hint_ = nullptr;
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
    // The window, or nullptr before the first showSetup().
    SetupWindow* window() const { return window_.get(); }

private:
    Setup& setup_;
    std::unique_ptr<SetupWindow> window_;
};

// The "## heading" section of a README in Markdown, its heading included; empty when absent.
QString readmeSection(const std::filesystem::path& readme, const QString& heading);

// Shows one "## heading" section of the README in a small window (a short built-in text when
// no README is installed).
void showReadmeSection(const QString& heading);

// The desktop parts of SetupEnvironment: key access on the X server, the sound settings, the
// README's help and findBinary. The application adds micStatus and watchFnKey.
SetupEnvironment desktopSetupEnvironment();

} // namespace vozmo
