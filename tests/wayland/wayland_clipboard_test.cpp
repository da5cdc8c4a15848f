// The compositor's clipboard through data control, on the headless sway session of with-sway:
// another program's formats read byte for byte and given back, all or nothing when its owner
// fails, our content served to programs that paste it, and the changes counted.
#include "fake_key_synth.h"
#include "fake_target_window.h"
#include "paste.h"
#include "wait.h"
#include "wayland_clipboard.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace vozmo {
namespace {

using namespace std::chrono_literals;

// Another program owning the clipboard (wayland_clipboard_owner), stopped by its pid.
class Owner {
public:
    explicit Owner(const QStringList& arguments) {
        process_.start(QStringLiteral(VOZMO_WAYLAND_CLIPBOARD_OWNER), arguments);
        ready_ = test::waitUntil([&] { return process_.readAllStandardOutput().contains("ready"); },
                                 10s);
    }
    ~Owner() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    bool ready() const { return ready_; }
    bool running() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
    bool ready_ = false;
};

// Runs a program while the event loop serves our clipboard; its standard output, or nothing
// when it failed.
std::optional<std::string> run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!test::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30s)) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

std::optional<std::string> paste(const std::string& type) {
    return run(QStringLiteral("wl-paste"),
               {QStringLiteral("-n"), QStringLiteral("-t"), QString::fromStdString(type)});
}

std::vector<std::string> offeredTypes() {
    std::vector<std::string> types;
    auto listed = run(QStringLiteral("wl-paste"), {QStringLiteral("--list-types")});
    std::string line;
    for (char c : listed.value_or("")) {
        if (c == '\n') {
            types.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return types;
}

// Bytes that are no text, larger than a pipe holds at once.
std::string binaryImage(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7919 + i / 251) & 0xff);
    }
    return bytes;
}

class WaylandClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vozmo-wl-clip-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        ASSERT_TRUE(clipboard_.ok()) << "the session offers no data control";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string file(const std::string& name, const std::string& bytes) {
        auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path folder_;
    WaylandClipboard clipboard_;
};

TEST_F(WaylandClipboardTest, EveryFormatOfAnotherOwnerComesBackByteForByte) {
    const std::string image = binaryImage(300'000);
    const ClipboardSnapshot expected = {
        {"text/html", "<b>hola</b> ñandú"},
        {"image/png", image},
        {"text/plain;charset=utf-8", "hola ñandú"},
    };
    ClipboardSnapshot saved;
    {
        Owner owner({"text/html::<b>hola</b> ñandú",
                     "image/png::@" + QString::fromStdString(file("img", image)),
                     "text/plain;charset=utf-8::hola ñandú"});
        ASSERT_TRUE(owner.ready());
        saved = clipboard_.snapshot();
        ASSERT_EQ(saved.size(), expected.size());
        for (std::size_t i = 0; i < saved.size(); ++i) {
            EXPECT_EQ(saved[i].mimeType, expected[i].mimeType);
            EXPECT_TRUE(saved[i].bytes == expected[i].bytes)
                << saved[i].mimeType << ": " << saved[i].bytes.size() << " bytes";
        }

        clipboard_.setText("dictado con ñ");
        EXPECT_EQ(paste("text/plain;charset=utf-8"), "dictado con ñ");
        EXPECT_EQ(paste("UTF8_STRING"), "dictado con ñ");
        EXPECT_EQ(offeredTypes(),
                  (std::vector<std::string>{"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                            "STRING", "TEXT"}));
        // The owner lost the clipboard to us and went.
        EXPECT_TRUE(test::waitUntil([&] { return !owner.running(); }, 10s));
    }
    // Our own content is read from memory.
    EXPECT_EQ(clipboard_.snapshot().front(),
              (ClipboardFormat{"text/plain;charset=utf-8", "dictado con ñ"}));

    clipboard_.restore(saved);
    EXPECT_EQ(offeredTypes(),
              (std::vector<std::string>{"text/html", "image/png", "text/plain;charset=utf-8"}));
    for (const ClipboardFormat& format : expected) {
        auto back = paste(format.mimeType);
        EXPECT_TRUE(back == format.bytes)
            << format.mimeType << ": " << back.value_or("(none)").size() << " bytes back of "
            << format.bytes.size();
    }
}

// An owner that dies or stops answering mid-read leaves no half snapshot behind, and the read
// ends in bounded time.
TEST_F(WaylandClipboardTest, AFailingOwnerGivesNothingRatherThanPart) {
    struct Case {
        const char* what;
        QStringList fault;
    };
    const Case cases[] = {
        {"dies on its second format", {"--die-on", "text/html"}},
        {"never answers", {"--hang-on", "text/plain"}},
        {"stops answering on its second format", {"--hang-on", "text/html"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Owner owner(
            QStringList{"text/plain::primero", "text/html::<i>segundo</i>", "text/rtf::tercero"} +
            c.fault);
        ASSERT_TRUE(owner.ready());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(clipboard_.snapshot().empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    }
}

TEST_F(WaylandClipboardTest, CountsEveryChangeOurOwnIncluded) {
    const auto start = clipboard_.changeCount();
    EXPECT_EQ(clipboard_.changeCount(), start) << "nothing happened, nothing counted";
    Owner owner({"text/plain::copiado por otro"});
    ASSERT_TRUE(owner.ready());
    const auto afterCopy = clipboard_.changeCount();
    EXPECT_NE(afterCopy, start);
    clipboard_.setText("nuestro");
    EXPECT_NE(clipboard_.changeCount(), afterCopy);
}

// A program that stops reading half-way (its pipe closed under our write) must not end Vozmo,
// which goes on serving the next reader in full.
TEST_F(WaylandClipboardTest, AReaderThatGoesAwayMidTransferHarmsNothing) {
    const std::string big = binaryImage(4'000'000);
    clipboard_.restore({{"application/x-big", big}});
    auto head = run(QStringLiteral("sh"),
                    {QStringLiteral("-c"),
                     QStringLiteral("wl-paste -n -t application/x-big | head -c 10 | wc -c")});
    EXPECT_EQ(head, "10\n");
    EXPECT_TRUE(paste("application/x-big") == big);
}

// The paste on this clipboard: the dictation is there when the stroke goes, and the user's
// content comes back after the restore delay.
TEST_F(WaylandClipboardTest, PasterGivesTheUsersFormatsBack) {
    Owner owner({"text/plain::del usuario", "text/html::<p>del usuario</p>"});
    ASSERT_TRUE(owner.ready());
    test::FakeKeySynth keys;
    test::FakeTargetWindow windows;
    Paster paster(clipboard_, keys, windows);
    ASSERT_TRUE(paster.paste("texto dictado"));
    EXPECT_EQ(paste("text/plain"), "texto dictado");
    ASSERT_EQ(keys.sent.size(), 1u);
    test::pumpFor(kRestoreDelay + 300ms);
    EXPECT_EQ(paste("text/plain"), "del usuario");
    EXPECT_EQ(paste("text/html"), "<p>del usuario</p>");
}

} // namespace
} // namespace vozmo
