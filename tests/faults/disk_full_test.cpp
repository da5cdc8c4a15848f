// The log, the preferences and a model download on a disk that is full: a tmpfs of a few
// kilobytes, mounted in this process's own mount namespace so nothing outside sees it.
#include "config.h"
#include "downloader.h"
#include "log.h"
#include "model_server.h"
#include "prefs.h"
#include "standin.h"
#include "temp_home.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {
namespace {

namespace fs = std::filesystem;

// Set by main(): whether this process has a mount namespace of its own to mount tmpfs in.
bool privateMounts = false;

// A tmpfs of `bytes` on a fresh folder, unmounted again on destruction.
class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes) {
        std::string tmpl = (fs::temp_directory_path() / "vozmo-disk-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            return;
        }
        root_ = tmpl;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        mounted_ = ::mount("tmpfs", root_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) {
            error_ = std::strerror(errno);
        }
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(root_.c_str(), MNT_DETACH);
        }
        if (!root_.empty()) {
            ::rmdir(root_.c_str());
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    const fs::path& path() const { return root_; }

    // Takes every free byte; true once a write has failed for lack of room.
    bool fill() {
        std::ofstream filler(root_ / "filler", std::ios::binary | std::ios::app);
        const std::string block(4096, 'x');
        for (int i = 0; i < 1 << 16; ++i) {
            filler.write(block.data(), static_cast<std::streamsize>(block.size()));
            filler.flush();
            if (!filler) {
                return true;
            }
        }
        return false;
    }
    void freeUp() { fs::remove(root_ / "filler"); }

private:
    fs::path root_;
    bool mounted_ = false;
    std::string error_;
};

// Points the configuration's data (models, logs) and/or config (preferences) folders at the
// small disk, the others into the test's private home.
void placeFolders(const fs::path& data, const fs::path& cfg) {
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
    initConfig({"vozmo"});
    ensureSupport();
}

std::vector<fs::path> leftovers(const fs::path& folder, const std::string& marker) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find(marker) != std::string::npos) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// Runs the event loop until `done` holds or a minute has passed.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return done();
}

class DiskFullTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!privateMounts) {
            GTEST_SKIP() << "no private mount namespace here (needs root): no tmpfs to fill";
        }
        ASSERT_TRUE(disk.mounted()) << disk.error();
    }

    std::string appLog() const { return test::readFile(config().logsDir / "app.log"); }

    test::TempHome home;
    SmallDisk disk{64 * 1024};
};

TEST_F(DiskFullTest, LogKeepsWhatItHadAndResumesOnceThereIsRoom) {
    placeFolders(disk.path(), home.path() / "config");
    log("antes de llenarse");
    ASSERT_TRUE(disk.fill());
    for (int i = 0; i < 500; ++i) {
        log("con el disco lleno " + std::to_string(i) + std::string(100, '.'));
    }
    disk.freeUp();
    log("después de liberar espacio");

    const auto lines = test::lines(appLog());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines.front().ends_with("] antes de llenarse")) << lines.front();
    // The entry after the space came back is whole; a line cut by the full disk may precede it.
    EXPECT_TRUE(lines.back().ends_with("] después de liberar espacio")) << lines.back();
}

TEST_F(DiskFullTest, PreferencesKeepTheLastGoodFileAndSayWhy) {
    placeFolders(home.path() / "data", disk.path());
    Prefs::setHotkey("ropt");
    Prefs::setPolish(false);
    const fs::path file = config().prefsFile;
    const std::string before = test::readFile(file);
    ASSERT_FALSE(before.empty());

    ASSERT_TRUE(disk.fill());
    Prefs::setSounds(false);
    Prefs::setLanguage("auto");
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_EQ(Prefs::hotkey(), "ropt");
    EXPECT_FALSE(Prefs::polish());
    EXPECT_TRUE(Prefs::sounds());
    EXPECT_TRUE(leftovers(file.parent_path(), ".prefs.").empty());
    EXPECT_NE(appLog().find("No se pudieron guardar las preferencias"), std::string::npos);

    disk.freeUp();
    Prefs::setSounds(false);
    EXPECT_FALSE(Prefs::sounds());
    EXPECT_EQ(Prefs::hotkey(), "ropt");
}

TEST_F(DiskFullTest, DownloadLeavesNoModelBehindAndSaysTheDiskIsFull) {
    placeFolders(disk.path(), home.path() / "config");
    // 100 MB offered to a disk of 64 KB.
    test::ModelServer server;
    ASSERT_TRUE(server.running());

    const ModelSpec spec{"Whisper", server.url("/file/100000000"), config().whisperModelPath,
                         50000000};
    Downloader downloader({spec});
    downloader.trustedCertificates = server.certificate();
    std::optional<bool> finished;
    downloader.onFinish = [&](const Outcome& outcome) { finished = outcome.ok(); };
    downloader.start();
    ASSERT_TRUE(waitFor([&] { return finished.has_value(); }));
    EXPECT_FALSE(*finished);
    EXPECT_FALSE(fs::exists(spec.dest));
    EXPECT_TRUE(leftovers(spec.dest.parent_path(), ".parcial").empty());
    EXPECT_NE(appLog().find("Descarga de Whisper falló: no se pudo escribir en el disco"),
              std::string::npos);
}

} // namespace
} // namespace vozmo

int main(int argc, char** argv) {
    // Before any thread exists, so every thread of the process shares the private mounts.
    vozmo::privateMounts = ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
