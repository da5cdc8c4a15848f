#pragma once

#include "standin.h"
#include "temp_home.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vozmo::test {

// The stand-in portal on the test desktop's session bus, in a private home, stopped by its pid.
class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "runs on the test desktop";
    }
    void TearDown() override { stopPortal(); }

    // Starts the stand-in with this behaviour and waits until it owns the portal's name.
    void startPortal(const nlohmann::json& behaviour = nlohmann::json::object()) {
        configure(behaviour);
        portal_.emplace(
            std::vector<std::string>{PORTAL_STANDIN, record_.string(), behaviour_.string()},
            std::map<std::string, std::string>{}, home_.path() / "portal.out");
        ASSERT_TRUE(portal_->started());
        ASSERT_TRUE(QTest::qWaitFor([] { return nameOwned(); }, 10000))
            << readFile(home_.path() / "portal.out");
    }
    void stopPortal() {
        if (portal_) {
            portal_->stop();
            portal_.reset();
            EXPECT_TRUE(QTest::qWaitFor([] { return !nameOwned(); }, 5000));
        }
    }
    // Read again by the stand-in at every call.
    void configure(const nlohmann::json& behaviour) const {
        writeFile(behaviour_, behaviour.dump());
    }

    static bool nameOwned() {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    // Every recorded call, or those of one method.
    std::vector<nlohmann::json> calls(const std::string& method = {}) const {
        std::vector<nlohmann::json> out;
        for (const std::string& line : lines(readFile(record_))) {
            if (line.empty()) {
                continue;
            }
            auto call = nlohmann::json::parse(line);
            if (method.empty() || call.value("method", "") == method) {
                out.push_back(std::move(call));
            }
        }
        return out;
    }

    // Tells the stand-in to emit Activated / Deactivated, or to close every session.
    static void control(const QString& method, const std::optional<QString>& shortcut = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/vozmo/test"),
            QStringLiteral("org.vozmo.test.PortalControl"), method);
        if (shortcut) {
            call << *shortcut;
        }
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    TempHome home_;
    std::filesystem::path record_ = home_.path() / "portal.jsonl";
    std::filesystem::path behaviour_ = home_.path() / "portal.json";
    std::optional<ChildProcess> portal_;
};

} // namespace vozmo::test
