#pragma once

#include "system/command_runner.h"

#include <QString>

namespace quillmere {

// Extracts the zip archive `zip` into the existing directory `dir`, keeping folders, file modes
// and symbolic links; false on a damaged or unreadable archive, or when the disk refuses it.
// Implemented once per platform. The archive's entries are to be checked first (checkArchive):
// neither platform's extractor is trusted to refuse every hostile entry by itself.
//   macOS: ditto (below), run synchronously. Its options cannot be tightened, hence
//   clearSetIdBits afterwards.
//   Linux: libarchive in this process, reading the zip as checkArchive read it. Entries with
//   "..", absolute ones and entries written through a symbolic link fail it; owners and the
//   setuid, setgid and sticky bits of the archive are dropped even when run as root.
[[nodiscard]] bool unpackArchive(const QString &zip, const QString &dir);

[[nodiscard]] ToolCommand dittoUnpackCommand(const QString &zip, const QString &dir);

// The second line of defence after unpacking: walks the tree at `dir` without following
// symbolic links and clears the setuid and setgid bits of every file and directory. Returns
// false when an entry cannot be examined or changed (an unreadable directory included), or when
// the tree holds a device file, a FIFO or a socket: no application bundle has one. (libarchive
// reads a zip's FIFO as a regular file, so only the macOS extractor could make one.)
[[nodiscard]] bool clearSetIdBits(const QString &dir);

}  // namespace quillmere
