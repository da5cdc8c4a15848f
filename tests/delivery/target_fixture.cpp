#include "target_fixture.h"

#include "target_window.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace vozmo::test {

std::unique_ptr<Child> startTarget(const std::string& wmClass, const QStringList& options) {
    auto target = std::make_unique<Child>(
        "/usr/bin/python3",
        QStringList{VOZMO_TARGET_WINDOW, "--wm-class", QString::fromStdString(wmClass)} + options);
    EXPECT_TRUE(target->expect("ready", 20s)) << "the target window never got the focus";
    bool front = pumpUntil([&] {
        auto app = focusedApp();
        return app && app->pid == static_cast<pid_t>(target->pid());
    });
    EXPECT_TRUE(front) << "the target window is not the active window";
    return target;
}

namespace {
std::string jsonString(const std::string& text) {
    QByteArray quoted =
        QJsonDocument(QJsonArray{QString::fromStdString(text)}).toJson(QJsonDocument::Compact);
    return quoted.mid(1, quoted.size() - 2).toStdString();
}
} // namespace

std::optional<std::string> targetText(Child& target) {
    target.send("get");
    auto answer = target.expect("text ");
    if (!answer) {
        return std::nullopt;
    }
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString("[" + *answer + "]"));
    return doc.array().at(0).toString().toStdString();
}

void setTargetText(Child& target, const std::string& text, int anchor, int caret) {
    std::string line = "set " + jsonString(text) + " " + std::to_string(anchor);
    if (caret >= 0) {
        line += " " + std::to_string(caret);
    }
    target.send(line);
    ASSERT_TRUE(target.expect("ok"));
}

} // namespace vozmo::test
