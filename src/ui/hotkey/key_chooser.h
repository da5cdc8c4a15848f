#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "key_events.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vozmo {

// "Tecla de dictado": waits for the next key, side button or combination and makes it the
// dictation key, or says why it cannot be; where the desktop rather than Vozmo assigns the key,
// shows what to do there, with the lines to copy. Closing it only hides it. Main thread only.
class KeyChooser : public QDialog {
    Q_OBJECT
public:
    struct Desktop {
        // Where Vozmo sees the keys itself; empty where the desktop assigns the key.
        std::function<std::unique_ptr<KeyCapture>()> makeCapture;
        // What to do in the desktop's settings, one line each: instructions, then the lines to
        // copy as they are. Read when the window opens.
        std::function<std::vector<std::string>()> instructions;
        std::function<std::vector<std::string>()> linesToCopy;
    };

    explicit KeyChooser(Desktop desktop, QWidget* parent = nullptr);
    ~KeyChooser() override;

    // Shows the window and starts waiting for a key.
    void start();
    // One key as captured: kept, or refused with the reason shown.
    void take(const CapturedKey& key);

    // Whether it waits for a key now; the dictation key does nothing meanwhile.
    std::function<void(bool waiting)> onWaiting;
    // The dictation key changed (it is in the preferences already).
    std::function<void()> onChosen;

    QString statusText() const;
    QString copyText() const;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void stopWaiting();

    Desktop desktop_;
    std::unique_ptr<KeyCapture> capture_;
    QLabel* headline_ = nullptr;
    QLabel* current_ = nullptr;
    QLabel* status_ = nullptr;
    QPlainTextEdit* lines_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* close_ = nullptr;
};

} // namespace vozmo
