#include "command_line.h"

#include <gtest/gtest.h>

namespace vozmo {
namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, ModesAndUnknownOptions) {
    const struct {
        std::vector<std::string> args;
        Mode mode;
        std::string bad;
        std::string key = "";
    } cases[] = {
        {{"vozmo"}, Mode::application, ""},
        {{"vozmo", "--selftest"}, Mode::selfTest, ""},
        {{"vozmo", "--help"}, Mode::help, ""},
        {{"vozmo", "-h"}, Mode::help, ""},
        {{"vozmo", "--version"}, Mode::version, ""},
        {{"vozmo", "--selftest", "--help"}, Mode::help, ""},
        {{"vozmo", "--version", "--help"}, Mode::help, ""},
        // Unknown options are errors wherever they stand, even beside --help.
        {{"vozmo", "--selftets"}, Mode::usageError, "--selftets"},
        {{"vozmo", "--help", "-x"}, Mode::usageError, "-x"},
        {{"vozmo", "fichero.txt"}, Mode::usageError, "fichero.txt"},
        {{"vozmo", ""}, Mode::usageError, ""},
        {{"vozmo", "--SELFTEST"}, Mode::usageError, "--SELFTEST"},
        // Qt's own options, as a session manager or a user may pass them, go to Qt.
        {{"vozmo", "-session", "1234abcd"}, Mode::application, ""},
        {{"vozmo", "--platform", "xcb", "--selftest"}, Mode::selfTest, ""},
        {{"vozmo", "-display", ":3", "-reverse"}, Mode::application, ""},
        // An option that needs a value and has none is not Qt's.
        {{"vozmo", "-platform"}, Mode::usageError, "-platform"},
        // The desktop-shortcut command: a known action is required, once.
        {{"vozmo", "--key", "press"}, Mode::key, "", "press"},
        {{"vozmo", "--key", "release"}, Mode::key, "", "release"},
        {{"vozmo", "--key=toggle"}, Mode::key, "", "toggle"},
        {{"vozmo", "--key", "cancel", "-platform", "xcb"}, Mode::key, "", "cancel"},
        {{"vozmo", "--key"}, Mode::usageError, "--key"},
        {{"vozmo", "--key", "PRESS"}, Mode::usageError, "PRESS"},
        {{"vozmo", "--key", "--help"}, Mode::usageError, "--help"},
        {{"vozmo", "--key="}, Mode::usageError, "--key="},
        {{"vozmo", "--key", "press", "--key", "release"}, Mode::usageError, "release"},
        {{"vozmo", "--key", "press", "--selftest"}, Mode::usageError, "--selftest"},
        {{"vozmo", "--key", "press", "--help"}, Mode::help, ""},
    };
    for (const auto& c : cases) {
        const CommandLine command = parseCommandLine(c.args);
        const std::string label = ::testing::PrintToString(c.args);
        EXPECT_EQ(command.mode, c.mode) << label;
        EXPECT_EQ(command.badOption, c.bad) << label;
        EXPECT_EQ(command.keyAction, c.key) << label;
    }
}

TEST(CommandLine, UsageErrorNamesTheOptionAndShowsTheUsageLine) {
    EXPECT_EQ(usageErrorText("--foo"), "vozmo: opción desconocida «--foo»\n"
                                       "Uso: vozmo [--selftest | --help | --version | --key "
                                       "press|release|toggle|cancel]\n");
    EXPECT_EQ(helpText().rfind(kUsageLine, 0), 0u);
}

} // namespace
} // namespace vozmo
