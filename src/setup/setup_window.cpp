#include "setup_window.h"

#include "config.h"
#include "desktop_setup.h"
#include "find_binary.h"
#include "prefs.h"
#include "setup_glyphs.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <filesystem>

namespace vozmo {

namespace {

const QColor kBlue(0, 122, 255);
const QColor kRed(255, 59, 48);
const QColor kOrange(255, 149, 0);
const QColor kGreen(52, 199, 89);

QFont sizedFont(int pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QPalette secondary(const QWidget* widget) {
    QPalette palette = widget->palette();
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.6);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

QPushButton* largeButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setMinimumHeight(30);
    button->setFont(sizedFont(13));
    button->setAutoDefault(false);
    return button;
}

} // namespace

// One step: coloured tile, title and detail, and on the right the check mark when done or the
// step's controls while not.
class StepRow : public QFrame {
public:
    StepRow(SetupGlyph glyph, const QColor& tint, const QString& title, const char* name,
            QWidget* parent)
        : QFrame(parent) {
        setObjectName(name);
        // A faint fill of the text colour, so it suits light and dark themes alike.
        QColor fill = palette().color(QPalette::WindowText);
        setStyleSheet(
            QString("QFrame#%1 { background: rgba(%2, %3, %4, 13); border-radius: 12px; }")
                .arg(name)
                .arg(fill.red())
                .arg(fill.green())
                .arg(fill.blue()));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(12, 12, 12, 12);
        row->setSpacing(14);
        auto* tile = new QLabel(this);
        tile->setPixmap(setupTile(glyph, tint, 38, devicePixelRatioF()));
        tile->setFixedSize(38, 38);
        row->addWidget(tile, 0, Qt::AlignVCenter);

        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        title_ = new QLabel(title, this);
        title_->setObjectName("title");
        title_->setFont(sizedFont(14, QFont::DemiBold));
        detail_ = new QLabel(this);
        detail_->setObjectName("detail");
        detail_->setFont(sizedFont(12));
        detail_->setPalette(secondary(this));
        detail_->setWordWrap(true);
        texts->addWidget(title_);
        texts->addWidget(detail_);
        row->addLayout(texts, 1);
        row->addSpacing(12);

        accessory_ = new QHBoxLayout;
        accessory_->setSpacing(8);
        row->addLayout(accessory_);
        check_ = new QLabel(this);
        check_->setObjectName("check");
        check_->setPixmap(setupCheck(22, devicePixelRatioF()));
        check_->setFixedSize(22, 22);
        row->addWidget(check_, 0, Qt::AlignVCenter);
    }

    void addAccessory(QWidget* widget) { accessory_->addWidget(widget, 0, Qt::AlignVCenter); }

    void setState(bool done, const QString& detail) {
        check_->setVisible(done);
        detail_->setText(detail);
    }

private:
    QLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* check_ = nullptr;
    QHBoxLayout* accessory_ = nullptr;
};

SetupWindow::SetupWindow(Setup& setup, QWidget* parent) : QDialog(parent), setup_(setup) {
    setObjectName("setupWindow");
    setWindowTitle("Vozmo");
    setWindowIcon(QIcon(setupAppIcon(64, 1.0)));
    setFixedWidth(kWidth);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(14);

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    auto* icon = new QLabel(this);
    icon->setPixmap(setupAppIcon(68, devicePixelRatioF()));
    icon->setFixedSize(68, 68);
    header->addWidget(icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* name = new QLabel("Vozmo", this);
    name->setFont(sizedFont(28, QFont::Bold));
    auto* tagline =
        new QLabel("Dictado por voz con IA. Privado: todo se procesa en tu equipo.", this);
    tagline->setPalette(secondary(this));
    tagline->setWordWrap(true);
    titles->addWidget(name);
    titles->addWidget(tagline);
    header->addLayout(titles, 1);
    column->addLayout(header);
    column->addSpacing(6);

    models_ = new StepRow(SetupGlyph::Download, kBlue, "Modelos de IA", "modelsRow", this);
    download_ = largeButton("Descargar", "downloadButton", models_);
    serversHelp_ = largeButton("Cómo instalarlo", "serversHelpButton", models_);
    progress_ = new QProgressBar(models_);
    progress_->setObjectName("downloadProgress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(110);
    models_->addAccessory(download_);
    models_->addAccessory(serversHelp_);
    models_->addAccessory(progress_);
    connect(download_, &QPushButton::clicked, this, [this] { setup_.download(); });
    connect(serversHelp_, &QPushButton::clicked, this, [this] { setup_.openServersHelp(); });

    mic_ = new StepRow(SetupGlyph::Microphone, kRed, "Micrófono", "micRow", this);
    micButton_ = largeButton("Abrir Ajustes", "micButton", mic_);
    mic_->addAccessory(micButton_);
    connect(micButton_, &QPushButton::clicked, this, [this] { setup_.requestMic(); });

    access_ = new StepRow(SetupGlyph::RaisedHand, kOrange, "Accesibilidad", "accessRow", this);
    accessButton_ = largeButton("Ver ayuda", "accessButton", access_);
    access_->addAccessory(accessButton_);
    connect(accessButton_, &QPushButton::clicked, this, [this] { setup_.openAccessibility(); });

    fn_ = new StepRow(SetupGlyph::Globe, kGreen, "Tecla Fn (recomendado)", "fnRow", this);
    rightAlt_ = largeButton("Usar Alt derecha", "rightAltButton", fn_);
    fnButton_ = largeButton("Configurar", "fnButton", fn_);
    fn_->addAccessory(rightAlt_);
    fn_->addAccessory(fnButton_);
    connect(fnButton_, &QPushButton::clicked, this, [this] { setup_.configureFn(); });
    connect(rightAlt_, &QPushButton::clicked, this, [this] { setup_.useRightAlt(); });

    for (auto* row : {models_, mic_, access_, fn_}) {
        column->addWidget(row);
    }

    column->addSpacing(6);
    auto* footer = new QHBoxLayout;
    hint_ = new QLabel(this);
    hint_->setObjectName("hint");
    hint_->setFont(sizedFont(12));
    hint_->setPalette(secondary(this));
    footer->addWidget(hint_);
    footer->addStretch(1);
    start_ = largeButton("Empezar", "startButton", this);
    start_->setDefault(true); // Return activates it
    footer->addWidget(start_);
    column->addLayout(footer);
    connect(start_, &QPushButton::clicked, this, [this] {
        if (onDone) {
            onDone();
        }
    });

    connect(&setup_, &Setup::changed, this, &SetupWindow::updateFromSetup);
    updateFromSetup();
}

SetupWindow::~SetupWindow() = default;

void SetupWindow::updateFromSetup() {
    updateModelsRow();
    updateMicRow();
    updateAccessRow();
    updateFnRow();
    const bool rightAlt = Prefs::hotkey() == "ropt";
    hint_->setText(QString("Mantén %1, habla y suelta. Toque corto: manos libres.")
                       .arg(rightAlt ? "Alt derecha" : "Fn"));
    start_->setEnabled(setup_.ready());
    // The width is fixed; the height follows what the rows now say.
    adjustSize();
}

void SetupWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    setup_.setChecking(true);
}

void SetupWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    setup_.setChecking(false);
}

void SetupWindow::updateModelsRow() {
    const Setup& s = setup_;
    QString detail;
    bool programsMissing = false;
    if (s.modelsOK() && !s.serverProblem().empty()) {
        programsMissing = true;
        detail = QString::fromStdString(s.serverProblem()) + ". Ciérralo y vuelve a abrir Vozmo.";
    } else if (s.modelsOK() && s.whisperServerFound() && s.llmServerFound()) {
        detail = "Listos.";
    } else if (s.downloading()) {
        detail = s.progressText().empty() ? QString("Descargando…")
                                          : QString::fromStdString(s.progressText());
    } else if (s.downloadFailed()) {
        detail = "La descarga falló. Revisa tu conexión.";
    } else if (!s.modelsOK()) {
        detail = "3,4 GB, una sola vez. Después funciona sin internet.";
    } else {
        // The models are there, but a server program is not: say which, and where to read how.
        programsMissing = true;
        if (!s.whisperServerFound() && !s.llmServerFound()) {
            detail = "Faltan whisper-server y llama-server: sin ellos no hay dictado. Mira «The "
                     "servers» en el README.";
        } else if (!s.whisperServerFound()) {
            detail =
                "Falta whisper-server: sin él no hay dictado. Mira «The servers» en el README.";
        } else {
            detail = "Listos, pero falta llama-server: dictado sin pulir. Mira «The servers» en el "
                     "README.";
        }
    }
    const bool done = s.modelsOK() && !programsMissing;
    models_->setState(done, detail);
    progress_->setVisible(!done && s.downloading());
    progress_->setValue(static_cast<int>(s.progress() * 1000.0));
    download_->setVisible(!done && !s.downloading() && !programsMissing);
    download_->setText(s.downloadFailed() ? "Reintentar" : "Descargar");
    serversHelp_->setVisible(programsMissing);
}

void SetupWindow::updateMicRow() {
    const bool done = setup_.micOK();
    mic_->setState(done, !done && setup_.soundSettingsMissing()
                             ? "No hay ajustes de sonido instalados. Instala pavucontrol."
                             : "Para escuchar tu voz. El audio nunca sale de tu equipo.");
    micButton_->setVisible(!done);
}

void SetupWindow::updateAccessRow() {
    const bool done = setup_.axOK();
    access_->setState(done, done ? "Para detectar la tecla y pegar el texto donde escribes."
                                 : "Para detectar la tecla y pegar. Tu sesión no ofrece XTEST "
                                   "y XInput2.");
    accessButton_->setVisible(!done);
}

void SetupWindow::updateFnRow() {
    const bool done = setup_.fnOK();
    QString detail;
    if (done) {
        detail = Prefs::hotkey() == "ropt" ? "Dictas con la tecla Alt derecha."
                                           : "Tu teclado envía la tecla Fn.";
    } else if (setup_.fnCheck() == Setup::FnCheck::Watching) {
        detail = "Pulsa la tecla Fn ahora…";
    } else if (setup_.fnCheck() == Setup::FnCheck::NotSeen) {
        detail = "Tu teclado no envía la tecla Fn. Dicta con Alt derecha.";
    } else {
        detail = "Comprueba si tu teclado envía la tecla Fn; si no, usa Alt derecha.";
    }
    fn_->setState(done, detail);
    const bool notSeen = !done && setup_.fnCheck() == Setup::FnCheck::NotSeen;
    rightAlt_->setVisible(notSeen);
    fnButton_->setVisible(!done && setup_.fnCheck() != Setup::FnCheck::Watching);
    fnButton_->setText(notSeen ? "Reintentar" : "Configurar");
}

SetupWindowHost::SetupWindowHost(Setup& setup) : setup_(setup) {}

SetupWindowHost::~SetupWindowHost() = default;

void SetupWindowHost::showSetup() {
    if (!window_) {
        window_ = std::make_unique<SetupWindow>(setup_);
        window_->onDone = [window = window_.get()] { window->hide(); };
        window_->adjustSize();
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
        }
        if (screen != nullptr) {
            QRect area = screen->availableGeometry();
            window_->move(area.center() - window_->rect().center());
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QString readmeSection(const std::filesystem::path& readme, const QString& heading) {
    QFile file(QString::fromStdString(readme.string()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QStringList section;
    bool inside = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith("## ")) {
            if (inside) {
                break;
            }
            inside = line.mid(3).trimmed() == heading;
        }
        if (inside) {
            section << line;
        }
    }
    return section.join('\n').trimmed();
}

namespace {

// Beside the build (build/vozmo next to the sources) or where a package puts its documents.
QString installedReadmeSection(const QString& heading) {
    std::vector<std::filesystem::path> places;
    if (!config().executableDir.empty()) {
        places.push_back(config().executableDir.parent_path() / "README.md");
        places.push_back(config().executableDir.parent_path() / "share" / "doc" / "vozmo" /
                         "README.md");
    }
    places.emplace_back("/usr/share/doc/vozmo/README.md");
    for (const auto& place : places) {
        QString text = readmeSection(place, heading);
        if (!text.isEmpty()) {
            return text;
        }
    }
    return {};
}

} // namespace

void showReadmeSection(const QString& heading) {
    QString text = installedReadmeSection(heading);
    if (text.isEmpty()) {
        text = heading == "The servers"
                   ? "Vozmo necesita `whisper-server` (whisper.cpp) y `llama-server` "
                     "(llama.cpp). Copia ambos en `~/.local/bin`."
                   : "En X11 Vozmo no necesita permisos: usa las extensiones XInput2 y XTEST "
                     "del servidor X. El micrófono es la entrada por defecto de PulseAudio o "
                     "PipeWire.";
    }
    auto* box = new QMessageBox(QMessageBox::Information, "Vozmo", text, QMessageBox::Close);
    box->setObjectName("readmeSection");
    box->setTextFormat(Qt::MarkdownText);
    box->setAttribute(Qt::WA_DeleteOnClose); // Qt owns it once shown
    box->setModal(false);
    box->show();
}

SetupEnvironment desktopSetupEnvironment() {
    SetupEnvironment env;
    env.keyAccessOk = keyAccessAvailable;
    env.openSoundSettings = openSoundSettings;
    env.openPermissionsHelp = [] { showReadmeSection("Permissions"); };
    env.openServersHelp = [] { showReadmeSection("The servers"); };
    env.findProgram = [](const std::string& name) { return findBinary(name); };
    return env;
}

} // namespace vozmo
