#pragma once

#include <QString>
#include <QStringList>

namespace quillmere {

// What a finished tool left behind. A tool that could not be started has exit code -1, no
// signal, and output that says why.
struct CommandResult {
    int exitCode;   // -1 when it did not exit by itself (not started, or ended by a signal)
    QString output; // stdout and stderr interleaved; empty when not valid UTF-8
    int signal = 0; // the signal that ended it; 0 when it exited or never started
};

// A tool run described as data, so that the command lines can be built and checked apart
// from running them.
struct ToolCommand {
    QString program; // an absolute path
    QStringList arguments;

    friend bool operator==(const ToolCommand &, const ToolCommand &) = default;
};

// Runs executable (a path: no shell, no PATH search) with arguments exactly as given and waits
// until it and every process holding its output have finished. Blocks the calling thread.
[[nodiscard]] CommandResult run(const QString &executable, const QStringList &arguments);

[[nodiscard]] inline CommandResult run(const ToolCommand &command)
{
    return run(command.program, command.arguments);
}

}  // namespace quillmere
