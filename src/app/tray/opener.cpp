#include "opener.h"

#include "log.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include <memory>

namespace vozmo {

namespace {

// xdg-open answers "no program" within moments; an opener still running past this has shown
// something, whatever it reports when the user closes it later.
constexpr qint64 kQuickFailureMs = 10000;

} // namespace

Opener::Opener(QObject* parent) : QObject(parent) {}

std::vector<Opener::Command> Opener::defaultCommands(Kind kind) {
    std::vector<Command> list = {{{"xdg-open"}, true}, {{"gio", "open"}, true}};
    const std::vector<std::string> programs =
        kind == Kind::folder
            ? std::vector<std::string>{"nautilus", "dolphin", "nemo", "thunar", "pcmanfm", "caja"}
            : std::vector<std::string>{"gnome-text-editor", "gedit", "kate", "kwrite",
                                       "mousepad",          "pluma", "xed",  "featherpad"};
    for (const std::string& program : programs) {
        list.push_back({{program}, false});
    }
    return list;
}

QString nothingOpenedText(const QString& path, const QString& what) {
    return QStringLiteral("No hay ningún programa para abrir %1. Está en:\n\n%2").arg(what, path);
}

void Opener::open(const QString& path, Kind kind, const QString& what) {
    tryFrom(0, commands ? commands(kind) : defaultCommands(kind), path, what);
}

void Opener::tryFrom(std::size_t index, std::vector<Opener::Command> list, const QString& path,
                     const QString& what) {
    for (; index < list.size(); ++index) {
        const auto& argv = list[index].argv;
        if (!argv.empty() &&
            !QStandardPaths::findExecutable(QString::fromStdString(argv[0])).isEmpty()) {
            break;
        }
    }
    if (index >= list.size()) {
        log("Nada pudo abrir " + path.toStdString());
        if (onNothingOpened) {
            onNothingOpened(path, what);
            return;
        }
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Vozmo"),
                                    nothingOpenedText(path, what), QMessageBox::Close);
        box->setObjectName(QStringLiteral("vozmo-nothing-opened"));
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->setAttribute(Qt::WA_DeleteOnClose); // Qt owns it once shown
        box->setModal(false);
        box->show();
        return;
    }
    const std::vector<std::string>& command = list[index].argv;
    QStringList arguments;
    for (std::size_t i = 1; i < command.size(); ++i) {
        arguments << QString::fromStdString(command[i]);
    }
    arguments << path;
    if (!list[index].launcher) {
        if (!QProcess::startDetached(QString::fromStdString(command[0]), arguments)) {
            tryFrom(index + 1, std::move(list), path, what);
        }
        return;
    }
    auto* process = new QProcess(this);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<Opener> self(this);
    auto next = [self, index, list, path, what](QProcess* done) {
        done->deleteLater();
        if (self) {
            self->tryFrom(index + 1, list, path, what);
        }
    };
    connect(process, &QProcess::errorOccurred, this, [process, next](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            next(process);
        }
    });
    connect(process, &QProcess::finished, this,
            [process, next, clock](int exitCode, QProcess::ExitStatus status) {
                if ((exitCode != 0 || status != QProcess::NormalExit) &&
                    clock->elapsed() < kQuickFailureMs) {
                    next(process);
                } else {
                    process->deleteLater();
                }
            });
    // Output is not ours to show; it would only clutter the terminal Vozmo was started from.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(QString::fromStdString(command[0]), arguments);
}

} // namespace vozmo
