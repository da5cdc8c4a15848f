// A Qt text field for the accessibility tests: Qt exposes its widgets over AT-SPI but offers no
// Collection queries, so the focused field has to be found by walking the tree.
// Usage: qt_text_target TEXT CARET. Prints "ready" once its window is active.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QWindow>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: qt_text_target TEXT CARET\n", stderr);
        return 2;
    }
    QPlainTextEdit edit;
    edit.setPlainText(QString::fromUtf8(argv[1]));
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(QString(argv[2]).toInt());
    edit.setTextCursor(cursor);
    edit.resize(400, 200);
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, [](QWindow* window) {
        if (window != nullptr) {
            std::puts("ready");
            std::fflush(stdout);
        }
    });
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    return app.exec();
}
