#pragma once

#include "system/command_runner.h"

#include <QString>

namespace quillmere {

// Extracts the zip archive `zip` into the existing directory `dir`, keeping folders, file modes
// and symbolic links; exits 0 on success and non-zero on a damaged or unreadable archive.
// Implemented once per platform by choosing one of the two command lines below.
[[nodiscard]] ToolCommand unpackCommand(const QString &zip, const QString &dir);

// macOS: ditto. Its options cannot be tightened, hence clearSetIdBits afterwards.
[[nodiscard]] ToolCommand dittoUnpackCommand(const QString &zip, const QString &dir);

// Linux: bsdtar from libarchive. Entries with "..", or written through a symbolic link, fail the
// run; absolute names lose their leading "/" and land inside `dir`. Owners and the setuid,
// setgid and sticky bits of the archive are dropped even when run as root.
[[nodiscard]] ToolCommand bsdtarUnpackCommand(const QString &zip, const QString &dir);

// The second line of defence after unpacking: walks the tree at `dir` without following
// symbolic links and clears the setuid and setgid bits of every file and directory. Returns
// false when an entry cannot be examined or changed (an unreadable directory included), or when
// the tree holds a device file: no application bundle has one, and only an unpacking run as
// root can make one.
[[nodiscard]] bool clearSetIdBits(const QString &dir);

}  // namespace quillmere
