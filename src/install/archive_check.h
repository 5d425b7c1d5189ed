#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillmere {

// What reading a package before anything of it is written to disk found.
enum class ArchiveVerdict {
    Safe,
    Unreadable, // not a zip whose central directory and entries read through whole and
                // undamaged (cut short, a bad CRC, a web page), or a name that is not UTF-8
    Unsafe,     // it could write outside the folder it is unpacked into, or its names differ
                // with the reader
};

// Reads the zip at `zipPath` (zip only: the macOS extractor reads nothing else, and both must
// see the same entries) through its central directory and every entry's data, and refuses an
// entry that is absolute, holds a ".." component, is listed twice, lies below a symbolic link of
// the archive, is a device, FIFO or socket, or is a link whose target, followed through the
// archive's own links, leaves the folder it is unpacked into. Names are compared as a Mac's
// file system compares them (case folded, one normalisation form). The central directory's
// names, the names of the local headers it leads to and those of the local headers read one
// after the other must be one list. Writes nothing.
[[nodiscard]] ArchiveVerdict checkArchive(const QString &zipPath);

// The target of the symbolic link at `components` below a root, or nothing when that is no
// symbolic link.
using LinkReader = std::function<std::optional<QString>(const QStringList &components)>;

// Whether the link target `target`, met in the folder `at` below a root (its components, none
// of them a link), resolves without leaving the root: each component is followed through the
// links `readLink` knows, as the system would follow them. Absolute targets, empty ones and
// chains of more than 40 links leave it.
[[nodiscard]] bool linkStaysInside(QStringList at, const QString &target, const LinkReader &readLink);

// Whether every symbolic link below `root` (the root itself is not followed) resolves inside
// `root`, as it lies on disk now. False also when the tree cannot be read.
[[nodiscard]] bool linksStayInside(const QString &root);

}  // namespace quillmere
