// Owns the CLIPBOARD with the formats given as MIME=TEXT arguments and serves them until it
// is stopped. Prints "ready" once it owns the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    auto data = std::make_unique<QMimeData>();
    for (int i = 1; i < argc; ++i) {
        QByteArray arg(argv[i]);
        qsizetype split = arg.indexOf('=');
        if (split <= 0) {
            std::fprintf(stderr, "clipboard_owner: expected MIME=TEXT, got %s\n", argv[i]);
            return 2;
        }
        data->setData(QString::fromUtf8(arg.left(split)), arg.mid(split + 1));
    }
    QGuiApplication::clipboard()->setMimeData(data.release(), QClipboard::Clipboard);
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
