#pragma once

#include "system/command_runner.h"

#include <QString>

#include <cstdint>

#include <locale.h>

struct archive;
struct archive_entry;

namespace quillmere {

// A package opened with libarchive's zip reader, as the check and the Linux extraction both read
// it: following the central directory (`Central`: a zip whose central directory is missing, cut
// or damaged does not open) or walking the local headers (`Local`), Mac metadata entries kept as
// the plain entries they are, and names read as UTF-8 whatever the process locale (the names
// are to be taken with the `_utf8` accessors). Lives on one thread and changes nothing outside it.
class ZipReader {
public:
    enum class Index { Central, Local };
    ZipReader(const QString &zip, Index index);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // The next entry, or null at the end or on a failure (`failed()` tells).
    [[nodiscard]] archive_entry *next();
    // Reads the current entry's data through to its end, handing each block to `take` (when
    // given), which returns false to stop. False when a block is damaged or `take` stopped.
    template <typename Take>
    [[nodiscard]] bool readData(Take take);
    [[nodiscard]] bool failed() const { return failed_; }
    [[nodiscard]] archive *get() const { return archive_; }

private:
    [[nodiscard]] bool nextBlock(const void *&block, size_t &size, std::int64_t &offset, bool &end);
    locale_t utf8_ = locale_t(0), previous_ = locale_t(0);
    archive *archive_ = nullptr;
    bool failed_ = false;
};

template <typename Take>
bool ZipReader::readData(Take take)
{
    const void *block = nullptr;
    size_t size = 0;
    std::int64_t offset = 0;
    for (bool end = false;;) {
        if (!nextBlock(block, size, offset, end))
            return false;
        if (end)
            return true;
        if (!take(block, size, offset))
            return false;
    }
}

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
