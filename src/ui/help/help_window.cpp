#include "help_window.h"

#include "config.h"

#include <QApplication>
#include <QFile>
#include <QTextBrowser>
#include <QTimer>
#include <QWidget>

namespace vozmo {

namespace {

const char* const kObjectName = "vozmo-help";

QString escaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped();
}

} // namespace

QString helpAnchor(HelpSection section) {
    switch (section) {
    case HelpSection::servers:
        return QStringLiteral("servidores");
    case HelpSection::permissions:
        return QStringLiteral("permisos");
    case HelpSection::models:
        return QStringLiteral("modelos");
    case HelpSection::microphone:
        return QStringLiteral("microfono");
    }
    return {};
}

QString helpHtml() {
    QFile file(QStringLiteral(":/help/ayuda.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString html = QString::fromUtf8(file.readAll());
    // The folder and file names follow this installation, so they are filled in here.
    QString list = QStringLiteral("<ul>");
    for (const ModelSpec& spec : config().modelSpecs) {
        list +=
            QStringLiteral("<li><b>%1</b> (%2): <code>%3</code></li>")
                .arg(escaped(spec.dest.filename().string()), escaped(spec.name), escaped(spec.url));
    }
    list += QStringLiteral("</ul>");
    html.replace(QStringLiteral("{{carpeta_modelos}}"), escaped(config().modelsDir.string()));
    html.replace(QStringLiteral("{{lista_modelos}}"), list);
    return html;
}

void showHelp(HelpSection section) {
    QTextBrowser* browser = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(kObjectName)) {
            browser = qobject_cast<QTextBrowser*>(widget);
        }
    }
    if (browser == nullptr) {
        browser = new QTextBrowser;
        browser->setObjectName(kObjectName);
        browser->setAttribute(Qt::WA_DeleteOnClose); // Qt owns it once shown
        browser->setWindowTitle(QStringLiteral("Ayuda de Vozmo"));
        browser->setOpenExternalLinks(true);
        browser->resize(620, 520);
        browser->setHtml(helpHtml());
    }
    browser->show();
    browser->raise();
    browser->activateWindow();
    // Again once the page is laid out: a freshly made window has no positions yet.
    browser->scrollToAnchor(helpAnchor(section));
    QTimer::singleShot(0, browser,
                       [browser, section] { browser->scrollToAnchor(helpAnchor(section)); });
}

} // namespace vozmo
