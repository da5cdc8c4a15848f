// Owns the CLIPBOARD like another program would, with faults to order. Arguments:
//   MIME=TEXT        a format and its bytes
//   MIME=@FILE       a format whose bytes are the file's
//   --die-on MIME    the process ends at once, without answering, when MIME is asked for
// Prints "ready" once it owns the clipboard.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>

#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {

class DyingMimeData : public QMimeData {
public:
    QString dieOn;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (!dieOn.isEmpty() && mimeType == dieOn) {
            // Mid-transfer, as a crash would: no answer, no clean-up.
            ::_exit(3);
        }
        return QMimeData::retrieveData(mimeType, type);
    }
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    auto data = std::make_unique<DyingMimeData>();
    for (int i = 1; i < argc; ++i) {
        QByteArray arg(argv[i]);
        if (arg == "--die-on" && i + 1 < argc) {
            data->dieOn = QString::fromUtf8(argv[++i]);
            continue;
        }
        qsizetype split = arg.indexOf('=');
        if (split <= 0) {
            std::fprintf(stderr, "fault_clipboard_owner: expected MIME=TEXT, got %s\n", argv[i]);
            return 2;
        }
        QByteArray bytes = arg.mid(split + 1);
        if (bytes.startsWith('@')) {
            QFile file(QString::fromUtf8(bytes.mid(1)));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "fault_clipboard_owner: cannot read %s\n", bytes.data() + 1);
                return 2;
            }
            bytes = file.readAll();
        }
        data->setData(QString::fromUtf8(arg.left(split)), bytes);
    }
    QGuiApplication::clipboard()->setMimeData(data.release(), QClipboard::Clipboard);
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
