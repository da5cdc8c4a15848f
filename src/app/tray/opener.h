#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace vozmo {

// Opens a file or a folder in the user's own programs. xdg-open comes first; when it finds no
// program (it then exits with an error at once) the next opener is tried, and when none
// works the path is shown in a message, so a click never ends in nothing. Main thread only.
class Opener : public QObject {
    Q_OBJECT
public:
    enum class Kind { textFile, folder };

    // A program that opens a path given after `argv`. A launcher (xdg-open, gio) exits with an
    // error when it finds no program and is watched for that; anything else is started on its
    // own, so it outlives Vozmo, and counts as opened once it starts.
    struct Command {
        std::vector<std::string> argv;
        bool launcher = false;
    };

    explicit Opener(QObject* parent = nullptr);

    void open(const QString& path, Kind kind, const QString& what);

    // The commands tried in order, each followed by the path; missing programs are skipped.
    static std::vector<Command> defaultCommands(Kind kind);
    // Overrides the default commands (tests).
    std::function<std::vector<Command>(Kind kind)> commands;
    // Shows that nothing could open `path`; a small message by default.
    std::function<void(const QString& path, const QString& what)> onNothingOpened;

private:
    void tryFrom(std::size_t index, std::vector<Command> commands, const QString& path,
                 const QString& what);
};

// The message shown when no program opened the path: where it is, so the user can go there.
QString nothingOpenedText(const QString& path, const QString& what);

} // namespace vozmo
