#pragma once

#include <QString>
#include <QStringList>

namespace quillmere {

// What a finished tool left behind. status is the exit code, the number of the signal that
// ended it, or -1 when it could not be started (output then says why).
struct CommandResult {
    int status;
    QString output; // stdout and stderr interleaved; empty when not valid UTF-8
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
