#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillmere {

// What reading a package's entry list found, before anything of it is written to disk.
enum class ArchiveVerdict {
    Safe,
    Unreadable, // not a zip libarchive can read through its last header (cut short, a web page)
    Unsafe,     // it could write outside the folder it is unpacked into
};

// Reads the entry list of the zip at `zipPath` with libarchive (zip only: the macOS extractor
// reads nothing else, and both must see the same entries) and refuses an entry that is absolute,
// holds a ".." component, is listed twice, lies below a symbolic link of the archive, is a
// device, FIFO or socket, or is a link whose target, followed through the archive's own links,
// leaves the folder it is unpacked into. Writes nothing.
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
