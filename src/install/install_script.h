#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QProcessEnvironment>
#include <QString>

#include <optional>
#include <utility>

namespace quillmere {

// The text in single quotes for the shell, each single quote in it written as '\''. Nothing
// else is escaped: between single quotes the shell takes every other character as it is.
[[nodiscard]] QString shellQuote(const QString &text);

// What an install script needs to know: the package that root copies, checks and unpacks for
// itself, and the user who asked for the install (the script may run as root).
struct InstallInputs {
    QString installPath;        // absolute
    QString packagePath;        // the downloaded zip the installer checked
    QByteArray packageSha512;   // its SHA-512 (64 bytes), taken as it was downloaded
    qint64 packageSize = 0;
    uint userId = 0;
    uint groupId = 0;
    QString home;               // the user's home (the Mac's Trash is in it)
    QString trashFolder;        // Linux: the user's Trash, absolute (see userTrashFolder)
    // Linux: what the new copy is started with (see appEnvironment).
    QList<std::pair<QString, QString>> appEnvironment;
    // Linux: the bundle the installer checked, installed as it is where the script runs with
    // the user's own rights.
    QString stagedAppPath;
};

// Both scripts, where they run with more rights than the user (always on macOS), first copy
// the package into a folder of their own (mktemp -d, 0700, removed on
// every way out), check the copy against packageSha512, unpack it there and clear set-id bits
// and group and other write bits: whoever runs them reads nothing the user can change after
// the installer's checks but the package, which the digest vouches for. Both stop only the
// user's own copy started from installPath. They read USER_ID from their environment (see
// scriptCommandLine).

// The macOS install script: quits the running product, moves the copy at installPath to the
// user's Trash under a time-stamped name, copies the unpacked bundle to installPath, gives it
// to the user and clears its quarantine attribute. The caller opens it. When the copy fails,
// the half-made copy is removed, the previous one is put back and the script exits non-zero.
[[nodiscard]] QString macInstallScript(const InstallInputs &inputs);

// The Linux install script: stops a running copy (waiting at most 3 seconds), moves the
// previous copy into the user's Trash as the freedesktop.org Trash does it (an info file, then
// the move), copies the unpacked bundle with cp -a (run as root: root's, as the user: the
// user's), and starts the new copy as the user, detached from the script's output. Files in
// the Trash are made as the user. A failed copy puts the previous one back; a new copy without
// a runnable executable fails the script.
[[nodiscard]] QString linuxInstallScript(const InstallInputs &inputs);

// The command line that runs `script` with bash in an environment of its own, nothing of the
// installer's: a fixed PATH, the user's HOME and USER_ID, and on Linux a UTF-8 locale for the
// archive's names. The script goes on the command line, so no file is ever run.
[[nodiscard]] QStringList scriptCommandLine(const QString &script, const InstallInputs &inputs,
                                            bool linux);

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

// "install.sh" in the stage directory: the script as it was run, for diagnosis. Nothing runs it.
[[nodiscard]] QString installScriptPath(const QString &stageDirectory);

// Writes the script atomically (a temporary file renamed over `path`; a symbolic link at `path`
// is replaced, not followed) and makes it executable (mode 755). Returns the error's
// description on failure.
[[nodiscard]] std::optional<QString> writeInstallScript(const QString &path, const QString &text);

}  // namespace quillmere
