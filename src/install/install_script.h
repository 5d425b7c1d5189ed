#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <optional>
#include <utility>

namespace quillmere {

// The text in single quotes for the shell, each single quote in it written as '\''. Nothing
// else is escaped: between single quotes the shell takes every other character as it is.
[[nodiscard]] QString shellQuote(const QString &text);

// The macOS install script: quits the running product, moves the copy at installPath to the
// user's Trash under a time-stamped name, copies the staged bundle to installPath, clears its
// quarantine attribute and opens it. installPath goes between double quotes unchanged, so it
// must hold no '"', '$', '`' or '\'. When the copy fails, the half-made copy is removed, the
// previous one is put back and the script exits non-zero.
[[nodiscard]] QString macInstallScript(const QString &installPath, const QString &stagedAppPath);

// What the Linux install script needs to know about the user who asked for the install: the
// script itself may run as root.
struct LinuxInstallInputs {
    QString installPath;   // absolute
    QString stagedAppPath;
    QString trashFolder;   // the user's Trash, absolute (see userTrashFolder)
    uint userId = 0;
    uint groupId = 0;
    // What the new copy is started with when the script runs as another user (see
    // appEnvironment); as that user, it inherits the script's environment instead.
    QList<std::pair<QString, QString>> appEnvironment;
};

// The Linux install script: stops a running copy started from installPath (waiting at most 3
// seconds), moves the previous copy into the user's Trash as the freedesktop.org Trash does it
// (an info file, then the move), copies the staged bundle with cp -a, and starts the new copy
// as the user, detached from the script's output. Files in the Trash are made as the user. A
// failed copy puts the previous one back; a new copy without a runnable executable fails the
// script.
[[nodiscard]] QString linuxInstallScript(const LinuxInstallInputs &inputs);

// The "Path=" value of a Trash info file: the absolute path's bytes percent-encoded, keeping
// '/' and what RFC 2396 leaves unreserved.
[[nodiscard]] QString trashInfoPath(const QString &absolutePath);

// The user's Trash: $XDG_DATA_HOME/Trash when that is an absolute path, otherwise
// home/.local/share/Trash.
[[nodiscard]] QString userTrashFolder(const QString &xdgDataHome, const QString &home);

// The variables of `environment` a desktop program needs to start in the user's session, in
// a fixed order, those that are set only.
[[nodiscard]] QList<std::pair<QString, QString>> appEnvironment(
    const QProcessEnvironment &environment);

// "install.sh" in the stage directory.
[[nodiscard]] QString installScriptPath(const QString &stageDirectory);

// Writes the script atomically (a temporary file renamed over `path`; a symbolic link at `path`
// is replaced, not followed) and makes it executable (mode 755). Returns the error's
// description on failure.
[[nodiscard]] std::optional<QString> writeInstallScript(const QString &path, const QString &text);

}  // namespace quillmere
