#include "setup_window.h"

#include "audio_input.h"
#include "config.h"
#include "desktop_setup.h"
#include "find_binary.h"
#include "help_window.h"
#include "key_names.h"
#include "prefs.h"
#include "setup_glyphs.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <tuple>

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
        detail_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // Room for three lines whatever the row says, so rows never change height and the
        // window never jumps as the steps change.
        detail_->setFixedHeight(QFontMetrics(detail_->font()).lineSpacing() * kDetailLines + 2);
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

    static constexpr int kDetailLines = 3;

    void addAccessory(QWidget* widget) { accessory_->addWidget(widget, 0, Qt::AlignVCenter); }

    void setTitle(const QString& title) { title_->setText(title); }

    // Room for `lines` lines of detail, selectable, for a row whose detail is instructions the
    // user copies (a compositor's configuration lines).
    void holdInstructions(int lines) {
        detail_->setFixedHeight(QFontMetrics(detail_->font()).lineSpacing() * lines + 2);
        detail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }

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

    // Made in reading order, which is also the order Tab walks through the controls.
    column->addLayout(buildHeader());
    column->addWidget(buildTrayNotice());
    column->addSpacing(6);
    column->addWidget(buildModelsRow());
    column->addWidget(buildModelChoice());
    column->addWidget(buildMicRow());
    column->addWidget(buildKeyAndPasteRow());
    column->addWidget(buildHotkeyRow());
    column->addSpacing(6);
    column->addLayout(buildFooter());

    connect(&setup_, &Setup::changed, this, &SetupWindow::updateFromSetup);
    updateFromSetup();
    fixHeight();
}

QLayout* SetupWindow::buildHeader() {
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
    return header;
}

QWidget* SetupWindow::buildTrayNotice() {
    trayNotice_ = new QLabel(
        "Vozmo está en marcha, pero tu escritorio no muestra su icono en la bandeja. Para volver "
        "a esta ventana, ejecuta «vozmo» otra vez; para cerrarlo, pulsa «Salir de Vozmo».",
        this);
    trayNotice_->setObjectName("trayNotice");
    trayNotice_->setWordWrap(true);
    trayNotice_->setFont(sizedFont(12));
    trayNotice_->hide();
    return trayNotice_;
}

QWidget* SetupWindow::buildModelsRow() {
    models_ = new StepRow(SetupGlyph::Download, kBlue, "Modelos de IA", "modelsRow", this);
    download_ = largeButton("Descargar", "downloadButton", models_);
    serversHelp_ = largeButton("Cómo instalarlo", "serversHelpButton", models_);
    progress_ = new QProgressBar(models_);
    progress_->setObjectName("downloadProgress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(110);
    modelsHelp_ = largeButton("Ayuda", "modelsHelpButton", models_);
    models_->addAccessory(modelsHelp_);
    models_->addAccessory(download_);
    models_->addAccessory(serversHelp_);
    models_->addAccessory(progress_);
    connect(download_, &QPushButton::clicked, this, [this] { setup_.download(); });
    connect(modelsHelp_, &QPushButton::clicked, this, [this] { setup_.openModelsHelp(); });
    connect(serversHelp_, &QPushButton::clicked, this, [this] { setup_.openServersHelp(); });
    return models_;
}

QWidget* SetupWindow::buildModelChoice() {
    auto* choice = new QFrame(this);
    choice->setObjectName("modelChoice");
    auto* grid = new QGridLayout(choice);
    // Indented to line up with the models row's title, under which it sits.
    grid->setContentsMargins(64, 0, 12, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    const auto options = modelOptions();
    auto addChoice = [&](ModelRole role, const QString& label, const char* name, int row,
                         QComboBox*& combo, QLabel*& speed) {
        auto* title = new QLabel(label, choice);
        title->setFont(sizedFont(12, QFont::DemiBold));
        combo = new QComboBox(choice);
        combo->setObjectName(name);
        combo->setFont(sizedFont(12));
        combo->setMinimumHeight(26);
        for (ModelTier tier : {ModelTier::fast, ModelTier::accurate}) {
            const ModelOption& option = modelOption(options, role, tier);
            combo->addItem(QString::fromStdString(option.title + " · " + option.size),
                           static_cast<int>(tier));
        }
        speed = new QLabel(choice);
        speed->setObjectName(QString(name) + "Speed");
        speed->setFont(sizedFont(11));
        speed->setPalette(secondary(this));
        grid->addWidget(title, row, 0);
        grid->addWidget(combo, row, 1);
        grid->addWidget(speed, row + 1, 1);
        connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, role, combo] {
            setup_.chooseModel(role, static_cast<ModelTier>(combo->currentData().toInt()));
        });
    };
    addChoice(ModelRole::speech, "Voz", "speechModel", 0, speechModel_, speechSpeed_);
    addChoice(ModelRole::polish, "Pulido", "polishModel", 2, polishModel_, polishSpeed_);
    machineNote_ = new QLabel(choice);
    machineNote_->setObjectName("machineNote");
    machineNote_->setFont(sizedFont(11));
    machineNote_->setPalette(secondary(this));
    grid->addWidget(machineNote_, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return choice;
}

QWidget* SetupWindow::buildMicRow() {
    mic_ = new StepRow(SetupGlyph::Microphone, kRed, "Micrófono", "micRow", this);
    micButton_ = largeButton("Abrir Ajustes", "micButton", mic_);
    micHelp_ = largeButton("Ver ayuda", "micHelpButton", mic_);
    mic_->addAccessory(micButton_);
    mic_->addAccessory(micHelp_);
    connect(micButton_, &QPushButton::clicked, this, [this] { setup_.requestMic(); });
    connect(micHelp_, &QPushButton::clicked, this, [this] { setup_.openMicrophoneHelp(); });
    return mic_;
}

QWidget* SetupWindow::buildKeyAndPasteRow() {
    access_ = new StepRow(SetupGlyph::RaisedHand, kOrange, "Tecla y pegado", "accessRow", this);
    if (setup_.keyAndPasteRow()) {
        access_->holdInstructions(6);
    }
    accessButton_ = largeButton("Ver ayuda", "accessButton", access_);
    access_->addAccessory(accessButton_);
    connect(accessButton_, &QPushButton::clicked, this, [this] { setup_.openKeyAndPasteHelp(); });
    return access_;
}

QWidget* SetupWindow::buildHotkeyRow() {
    fn_ = new StepRow(SetupGlyph::Globe, kGreen, "Tecla Fn (recomendado)", "fnRow", this);
    rightAlt_ = largeButton("Usar Alt derecha", "rightAltButton", fn_);
    fnButton_ = largeButton("Configurar", "fnButton", fn_);
    fnCancel_ = largeButton("Cancelar", "fnCancelButton", fn_);
    chooseKey_ = largeButton("Tecla de dictado…", "chooseKeyButton", fn_);
    fn_->addAccessory(rightAlt_);
    fn_->addAccessory(fnButton_);
    fn_->addAccessory(fnCancel_);
    fn_->addAccessory(chooseKey_);
    connect(chooseKey_, &QPushButton::clicked, this, [this] { setup_.chooseKey(); });
    connect(fnButton_, &QPushButton::clicked, this, [this] { setup_.configureFn(); });
    connect(fnCancel_, &QPushButton::clicked, this, [this] { setup_.cancelFnCheck(); });
    connect(rightAlt_, &QPushButton::clicked, this, [this] { setup_.useRightAlt(); });
    return fn_;
}

QLayout* SetupWindow::buildFooter() {
    auto* footer = new QHBoxLayout;
    hint_ = new QLabel(this);
    hint_->setObjectName("hint");
    hint_->setFont(sizedFont(12));
    hint_->setPalette(secondary(this));
    footer->addWidget(hint_);
    footer->addStretch(1);
    quit_ = largeButton("Salir de Vozmo", "quitButton", this);
    quit_->hide();
    footer->addWidget(quit_);
    connect(quit_, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    start_ = largeButton("Empezar", "startButton", this);
    start_->setDefault(true); // Return activates it
    footer->addWidget(start_);
    connect(start_, &QPushButton::clicked, this, [this] {
        if (onDone) {
            onDone();
        }
    });
    return footer;
}

void SetupWindow::fixHeight() {
    // Every row has a fixed height, so this is the height for every state. Wrapped labels
    // (the tagline, the tray notice) need the height for this very width.
    QLayout* column = layout();
    const int height = column != nullptr && column->hasHeightForWidth()
                           ? column->totalHeightForWidth(kWidth)
                           : sizeHint().height();
    setFixedSize(kWidth, height);
}

SetupWindow::~SetupWindow() = default;

void SetupWindow::setTrayMissing(bool missing) {
    trayNotice_->setVisible(missing);
    quit_->setVisible(missing);
    fixHeight();
}

void SetupWindow::updateFromSetup() {
    updateModelsRow();
    updateModelChoice();
    updateMicRow();
    updateAccessRow();
    updateFnRow();
    hint_->setText(QString("Mantén %1, habla y suelta. Toque corto: manos libres.")
                       .arg(QString::fromStdString(Prefs::hotkeyName())));
    start_->setEnabled(setup_.ready());
}

namespace {

// A path as the user would type it, with ~ for the home folder.
QString forHumans(const std::filesystem::path& path) {
    QString text = QString::fromStdString(path.string());
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    if (!home.isEmpty() && text.startsWith(home + "/")) {
        return "~" + text.mid(home.size());
    }
    return text;
}

} // namespace

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
        detail = QString::fromStdString(s.serverProblem()); // with what to do about it
    } else if (s.modelsOK() && s.whisperServerFound() && s.llmServerFound()) {
        detail = "Listos.";
    } else if (s.downloading()) {
        detail = s.progressText().empty() ? QString("Descargando…")
                                          : QString::fromStdString(s.progressText());
    } else if (s.downloadFailed() && !s.downloadProblem().empty()) {
        detail =
            QString("%1: se ha borrado. Reintenta, o cópialos a mano en %2.")
                .arg(QString::fromStdString(s.downloadProblem()), forHumans(config().modelsDir));
    } else if (s.downloadFailed()) {
        detail = QString("Falló la descarga: revisa la conexión o cópialos a mano en %1.")
                     .arg(forHumans(config().modelsDir));
    } else if (!s.modelsOK()) {
        const auto options = modelOptions();
        const auto& speech =
            modelOption(options, ModelRole::speech, s.modelTier(ModelRole::speech));
        const auto& polish =
            modelOption(options, ModelRole::polish, s.modelTier(ModelRole::polish));
        detail = QString::fromStdString(speech.size + " + " + polish.size +
                                        ", una sola vez. Sin internet: cópialos a mano en %1.")
                     .arg(forHumans(config().modelsDir));
    } else {
        // The models are there, but a server program is not: say which, and where it goes.
        programsMissing = true;
        if (!s.whisperServerFound() && !s.llmServerFound()) {
            detail = "Faltan whisper-server (para dictar) y llama-server (para pulir). Cópialos "
                     "en ~/.local/bin.";
        } else if (!s.whisperServerFound()) {
            detail = "Falta whisper-server: sin él no hay dictado. Cópialo en ~/.local/bin.";
        } else {
            detail = "Falta llama-server: dictas, pero sin pulir. Cópialo en ~/.local/bin.";
        }
    }
    const bool done = s.modelsOK() && !programsMissing;
    if (const std::string warning = s.modelWarning(); s.modelsOK() && !warning.empty()) {
        detail += " " + QString::fromStdString(warning);
    }
    models_->setState(done, detail);
    progress_->setVisible(!done && s.downloading());
    progress_->setValue(static_cast<int>(s.progress() * 1000.0));
    download_->setVisible(!done && !s.downloading() && !programsMissing);
    download_->setText(s.downloadFailed() ? "Reintentar" : "Descargar");
    modelsHelp_->setVisible(!s.modelsOK() && !s.downloading());
    serversHelp_->setVisible(programsMissing);
}

void SetupWindow::updateModelChoice() {
    const auto options = modelOptions();
    for (auto [role, combo, speed] : {std::tuple{ModelRole::speech, speechModel_, speechSpeed_},
                                      std::tuple{ModelRole::polish, polishModel_, polishSpeed_}}) {
        const ModelTier tier = setup_.modelTier(role);
        combo->setCurrentIndex(combo->findData(static_cast<int>(tier)));
        speed->setText(QString::fromStdString(modelOption(options, role, tier).speedClass));
    }
    const MachineFacts& machine = setup_.machine();
    const QString cores = QString("%1 %2")
                              .arg(machine.physicalCores)
                              .arg(machine.physicalCores == 1 ? "núcleo" : "núcleos");
    machineNote_->setText(
        QString("Este equipo: %1, %2. Recomendado: %3.")
            .arg(cores, machine.gpu ? "con GPU" : "sin GPU",
                 setup_.recommendedTier() == ModelTier::fast ? "rápido" : "preciso"));
}

void SetupWindow::updateMicRow() {
    const bool done = setup_.micOK();
    QString detail = "Para escuchar tu voz. El audio nunca sale de tu equipo.";
    if (!done && setup_.soundServerMissing()) {
        detail = "No hay ningún servidor de sonido en marcha. Instala PipeWire o PulseAudio.";
    } else if (!done && setup_.soundSettingsMissing()) {
        detail = "No hay ajustes de sonido instalados. Instala pavucontrol.";
    } else if (!done) {
        detail = "No hay micrófono por defecto. Elige uno en los ajustes de sonido.";
    }
    mic_->setState(done, detail);
    // Without a sound server there is nothing to choose in its settings: only the help helps.
    micButton_->setVisible(!done && !setup_.soundServerMissing());
    micHelp_->setVisible(!done && setup_.soundServerMissing());
}

void SetupWindow::updateAccessRow() {
    const bool done = setup_.axOK();
    if (setup_.keyAndPasteRow()) {
        access_->setTitle("Tecla y pegado");
        QStringList lines;
        for (const std::string& line : setup_.keyAndPasteInstructions()) {
            lines << QString::fromStdString(line);
        }
        if (done) {
            lines = QStringList{"Tu escritorio envía la tecla a Vozmo y le deja pegar el texto."};
        } else if (lines.isEmpty()) {
            lines << "Tu escritorio no deja detectar la tecla ni pegar el texto.";
        }
        access_->setState(done, lines.join('\n'));
        accessButton_->setVisible(!done);
        return;
    }
    QString detail = "Para detectar la tecla y pegar el texto donde escribes.";
    if (!done) {
        const auto& missing = setup_.missingKeyAccess();
        auto lacks = [&missing](const char* part) {
            return std::find(missing.begin(), missing.end(), part) != missing.end();
        };
        if (lacks("X11")) {
            detail = "Tu sesión no es X11: Vozmo no oye la tecla ni puede pegar.";
        } else if (lacks("XTEST") && lacks("XInput2")) {
            detail = "Tu servidor X no ofrece XTEST ni XInput2: Vozmo no oye la tecla ni pega.";
        } else if (lacks("XTEST")) {
            detail = "Tu servidor X no ofrece XTEST: Vozmo no puede pegar el texto.";
        } else if (lacks("XInput2")) {
            detail = "Tu servidor X no ofrece XInput2: Vozmo no oye la tecla de dictado.";
        } else {
            detail = "Tu sesión no deja detectar la tecla ni pegar el texto.";
        }
    }
    access_->setState(done, detail);
    accessButton_->setVisible(!done);
}

void SetupWindow::updateFnRow() {
    const bool done = setup_.fnOK();
    const bool rightAlt = Prefs::hotkey() == Prefs::kHotkeyRightAlt;
    const Setup::FnCheck check = setup_.fnCheck();
    const bool altGr = setup_.rightAltIsAltGr();
    QString title = "Tecla Fn (recomendado)";
    QString detail;
    if (!customHotkeyParts(Prefs::hotkey()).empty()) {
        title = QString::fromStdString("Tecla de dictado: " + Prefs::hotkeyName());
        detail = "La elegiste pulsándola.";
    } else if (rightAlt && altGr) {
        // A right Alt key chosen before the layout made it AltGr: it never starts a dictation.
        title = "Tecla de dictado: Alt derecha";
        detail = "En tu distribución de teclado, Alt derecha es AltGr (con ella escribes @ # €): "
                 "elige otra tecla.";
    } else if (done && rightAlt) {
        title = "Tecla de dictado: Alt derecha";
        detail = "Dictas con la tecla Alt derecha.";
    } else if (done) {
        title = "Tecla de dictado: Fn";
        detail = "Tu teclado envía la tecla Fn.";
    } else if (check == Setup::FnCheck::Watching) {
        detail = QString("Pulsa la tecla Fn ahora… (quedan %1 s)").arg(setup_.fnSecondsLeft());
    } else if (check == Setup::FnCheck::NotSeen) {
        detail = altGr ? "No he visto la tecla Fn: tu teclado no la envía. Elige otra tecla."
                       : "No he visto la tecla Fn: tu teclado no la envía. Elige Alt derecha.";
    } else {
        detail = altGr ? "Comprueba si tu teclado envía la tecla Fn; si no, elige otra tecla."
                       : "Comprueba si tu teclado envía la tecla Fn; si no, usa Alt derecha.";
    }
    const bool altGrChosen = rightAlt && altGr;
    fn_->setTitle(title);
    fn_->setState(done && !altGrChosen, detail);
    const bool notSeen = !done && check == Setup::FnCheck::NotSeen;
    rightAlt_->setVisible(notSeen && !altGr);
    chooseKey_->setVisible(check != Setup::FnCheck::Watching && (setup_.canChooseKey()));
    fnButton_->setVisible(!done && check != Setup::FnCheck::Watching);
    fnButton_->setText(notSeen ? "Reintentar" : "Configurar");
    fnCancel_->setVisible(!done && check == Setup::FnCheck::Watching);
}

SetupWindowHost::SetupWindowHost(Setup& setup) : setup_(setup) {}

SetupWindowHost::~SetupWindowHost() = default;

void SetupWindowHost::setTrayMissing(bool missing) {
    trayMissing_ = missing;
    if (window_) {
        window_->setTrayMissing(missing);
    }
}

void SetupWindowHost::showSetup() {
    show(true);
}

void SetupWindowHost::showSetupWithoutFocus() {
    show(false);
}

void SetupWindowHost::show(bool takeFocus) {
    if (!window_) {
        window_ = std::make_unique<SetupWindow>(setup_);
        window_->onDone = [window = window_.get()] { window->hide(); };
        window_->setTrayMissing(trayMissing_);
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
    if (!takeFocus) {
        // Asks the window manager not to focus it (_NET_WM_USER_TIME 0 on X11); only for this
        // showing, so a later showSetup() does take the focus.
        window_->setAttribute(Qt::WA_ShowWithoutActivating, true);
        window_->show();
        window_->raise();
        window_->setAttribute(Qt::WA_ShowWithoutActivating, false);
        return;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

SetupEnvironment desktopSetupEnvironment() {
    SetupEnvironment env;
    env.keyAccessOk = keyAccessAvailable;
    env.openSoundSettings = openSoundSettings;
    env.openPermissionsHelp = [] { showHelp(HelpSection::permissions); };
    env.openServersHelp = [] { showHelp(HelpSection::servers); };
    env.openModelsHelp = [] { showHelp(HelpSection::models); };
    env.openMicrophoneHelp = [] { showHelp(HelpSection::microphone); };
    env.missingKeyAccess = missingKeyAccess;
    env.soundServerRunning = soundServerRunning;
    env.findProgram = [](const std::string& name) { return findBinary(name); };
    return env;
}

} // namespace vozmo
