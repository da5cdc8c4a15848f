#include "config.h"
#include "help_window.h"
#include "temp_home.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace vozmo {
namespace {

QTextBrowser* helpWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("vozmo-help") && widget->isVisible()) {
            return qobject_cast<QTextBrowser*>(widget);
        }
    }
    return nullptr;
}

TEST(Help, ThePageIsSpanishAndNamesThisInstallationsModels) {
    test::TempHome home;
    const QString html = helpHtml();
    for (auto section : {HelpSection::servers, HelpSection::permissions, HelpSection::models,
                         HelpSection::microphone}) {
        EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"%1\">").arg(helpAnchor(section))))
            << helpAnchor(section).toStdString();
    }
    // What an offline user needs: both file names, where to get them and where they go.
    for (const ModelSpec& spec : config().modelSpecs) {
        EXPECT_TRUE(html.contains(QString::fromStdString(spec.dest.filename().string())));
        EXPECT_TRUE(html.contains(QString::fromStdString(spec.url).toHtmlEscaped()));
    }
    EXPECT_TRUE(html.contains(QString::fromStdString(config().modelsDir.string())));
    EXPECT_FALSE(html.contains(QStringLiteral("{{")));
    for (const char* foreign : {"README", "The servers", "Permissions", "⌘", "⌥", "🌐"}) {
        EXPECT_FALSE(html.contains(QString::fromUtf8(foreign))) << foreign;
    }
}

TEST(Help, EachSectionOpensInTheOneWindowScrolledToIt) {
    test::TempHome home;
    int previous = -1;
    QTextBrowser* first = nullptr;
    // The sections in page order: each one lies further down than the one before.
    for (auto section : {HelpSection::servers, HelpSection::permissions, HelpSection::models,
                         HelpSection::microphone}) {
        showHelp(section);
        QTextBrowser* window = helpWindow();
        ASSERT_NE(window, nullptr);
        if (first == nullptr) {
            first = window;
            // Small enough that every section needs scrolling to.
            window->resize(420, 160);
        }
        EXPECT_EQ(window, first);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return window->verticalScrollBar()->value() > previous; }, 3000))
            << helpAnchor(section).toStdString();
        previous = window->verticalScrollBar()->value();
    }
    first->close();
}

} // namespace
} // namespace vozmo
