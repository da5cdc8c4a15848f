#include "notifier.h"
#include "standin.h"
#include "temp_home.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sys/stat.h>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

// The stand-in notification service on the test desktop's session bus, stopped by its pid.
class NotificationService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "runs on the test desktop";
        service_.emplace(std::vector<std::string>{NOTIFICATION_STANDIN, record_.string()},
                         std::map<std::string, std::string>{}, home_.path() / "standin.out");
        ASSERT_TRUE(service_->started());
        ASSERT_TRUE(QTest::qWaitFor(
            [] {
                return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.Notifications"));
            },
            10000));
    }
    void TearDown() override {
        if (service_) {
            service_->stop();
        }
    }

    std::vector<nlohmann::json> recorded() const {
        std::vector<nlohmann::json> out;
        if (!std::filesystem::exists(record_)) {
            return out;
        }
        for (const std::string& line : test::lines(test::readFile(record_))) {
            if (!line.empty()) {
                out.push_back(nlohmann::json::parse(line));
            }
        }
        return out;
    }

    test::TempHome home_;
    std::filesystem::path record_ = home_.path() / "notifications.jsonl";
    std::optional<test::ChildProcess> service_;
};

TEST_F(NotificationService, TheDesktopNotifierReachesIt) {
    auto notifier = makeDesktopNotifier();
    notifier->notify({"Dictado copiado", "Pégalo con Ctrl+V."});
    notifier->notify({"Vozmo está en marcha", "Ejecuta «vozmo» otra vez."});
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded().size() == 2; }, 10000));
    const auto shown = recorded();
    EXPECT_EQ(shown[0]["app"], "Vozmo");
    EXPECT_EQ(shown[0]["summary"], "Dictado copiado");
    EXPECT_EQ(shown[0]["body"], "Pégalo con Ctrl+V.");
    EXPECT_EQ(shown[0]["replaces"], 0);
    EXPECT_EQ(shown[0]["desktop-entry"], "vozmo");
    EXPECT_EQ(shown[0]["timeout"], -1);
    EXPECT_EQ(shown[1]["summary"], "Vozmo está en marcha");
}

// The test desktop has no tray host: the real application says once where it is.
TEST_F(NotificationService, WithoutATrayHostVozmoNotifiesOnce) {
    const auto runtime = home_.path() / "runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    test::ChildProcess app({VOZMO_EXE},
                           {{"XDG_RUNTIME_DIR", runtime.string()}, {"PATH", "/nonexistent"}},
                           home_.path() / "vozmo.out");
    ASSERT_TRUE(app.started());
    const bool told = QTest::qWaitFor([&] { return !recorded().empty(); }, 20000);
    QTest::qWait(500); // a second one would come at once
    app.stop();
    ASSERT_TRUE(told) << test::readFile(home_.path() / "vozmo.out");
    const auto shown = recorded();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["summary"], "Vozmo está en marcha");
    const std::string log = test::readFile(home_.path() / "data" / "Vozmo" / "logs" / "app.log");
    EXPECT_NE(log.find("No hay bandeja del sistema"), std::string::npos);
}

} // namespace
} // namespace vozmo
