#include "key_chooser.h"

#include "key_names.h"
#include "log.h"
#include "prefs.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vozmo {

namespace {

constexpr int kCloseAfterChoiceMs = 1500;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString joined(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines) {
        list.push_back(qs(line));
    }
    return list.join('\n');
}

} // namespace

KeyChooser::KeyChooser(Desktop desktop, QWidget* parent)
    : QDialog(parent), desktop_(std::move(desktop)) {
    setWindowTitle(QStringLiteral("Tecla de dictado"));
    auto* layout = new QVBoxLayout(this);
    headline_ = new QLabel(this);
    QFont bigger = headline_->font();
    if (bigger.pointSizeF() > 0) {
        bigger.setPointSizeF(bigger.pointSizeF() * 1.3);
    }
    bigger.setBold(true);
    headline_->setFont(bigger);
    headline_->setWordWrap(true);
    layout->addWidget(headline_);
    current_ = new QLabel(this);
    current_->setWordWrap(true);
    layout->addWidget(current_);
    lines_ = new QPlainTextEdit(this);
    lines_->setReadOnly(true);
    lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
    lines_->setMaximumHeight(90);
    layout->addWidget(lines_);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    copy_ = new QPushButton(QStringLiteral("Copiar las líneas"), this);
    copy_->setAutoDefault(false);
    // Space or Enter pressed to be the key must not click a button.
    copy_->setFocusPolicy(Qt::NoFocus);
    connect(copy_, &QPushButton::clicked, this, [this] {
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setText(copyText(), QClipboard::Clipboard);
            status_->setText(QStringLiteral("Copiadas: pégalas en la configuración."));
        }
    });
    buttons->addWidget(copy_);
    close_ = new QPushButton(QStringLiteral("Cerrar"), this);
    close_->setAutoDefault(false);
    close_->setFocusPolicy(Qt::NoFocus);
    connect(close_, &QPushButton::clicked, this, &QDialog::hide);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    setMinimumWidth(460);
}

// Nothing is called back from here: whoever listens may be ending too.
KeyChooser::~KeyChooser() = default;

void KeyChooser::start() {
    status_->clear();
    const std::string name = Prefs::hotkeyName();
    current_->setText(qs("Ahora es " + name + "."));
    if (desktop_.makeCapture) {
        headline_->setText(QStringLiteral("Pulsa la tecla que quieras usar"));
        current_->setText(qs("Una tecla, un botón lateral del ratón o una combinación: mantenla "
                             "y suéltala. Ahora es " +
                             name + "."));
        lines_->hide();
        copy_->hide();
        capture_.reset();
        std::unique_ptr<KeyCapture> capture = desktop_.makeCapture();
        if (capture && capture->start([this](const CapturedKey& key) { take(key); })) {
            capture_ = std::move(capture);
            if (onWaiting) {
                onWaiting(true);
            }
        } else {
            status_->setText(QStringLiteral("No se pueden leer las teclas en este escritorio."));
        }
    } else {
        headline_->setText(QStringLiteral("En este escritorio, la tecla se asigna en sus ajustes"));
        const auto instructions =
            desktop_.instructions ? desktop_.instructions() : std::vector<std::string>{};
        current_->setText(joined(instructions));
        const auto lines =
            desktop_.linesToCopy ? desktop_.linesToCopy() : std::vector<std::string>{};
        lines_->setPlainText(joined(lines));
        lines_->setVisible(!lines.empty());
        copy_->setVisible(!lines.empty());
    }
    show();
    raise();
    activateWindow();
}

void KeyChooser::take(const CapturedKey& key) {
    if (!capture_) {
        return;
    }
    if (!key.refusal.empty()) {
        log("Tecla de dictado rechazada: " + storedHotkey(key.parts));
        status_->setText(
            qs(key.refusal + " La tecla de dictado sigue siendo " + Prefs::hotkeyName() + "."));
        status_->setStyleSheet(QStringLiteral("color: #c05000;"));
        return;
    }
    const std::string stored = storedHotkey(key.parts);
    Prefs::setHotkey(stored);
    log("Tecla de dictado: " + stored);
    status_->setText(qs("Tecla de dictado: " + hotkeyDisplayName(stored) + "."));
    status_->setStyleSheet(QStringLiteral("color: #1a8a3a;"));
    stopWaiting();
    if (onChosen) {
        onChosen();
    }
    QTimer::singleShot(kCloseAfterChoiceMs, this, [this] {
        if (!capture_) {
            hide();
        }
    });
}

QString KeyChooser::statusText() const {
    return status_->text();
}

QString KeyChooser::copyText() const {
    return lines_->toPlainText();
}

void KeyChooser::hideEvent(QHideEvent* event) {
    stopWaiting();
    QDialog::hideEvent(event);
}

void KeyChooser::stopWaiting() {
    if (!capture_) {
        return;
    }
    capture_.reset();
    if (onWaiting) {
        onWaiting(false);
    }
}

} // namespace vozmo
