#include "platform/unpack.h"

#include <QFile>

#include <archive.h>

#include <ftw.h>
#include <sys/stat.h>

namespace quillmere {

using namespace Qt::StringLiterals;

ToolCommand dittoUnpackCommand(const QString &zip, const QString &dir)
{
    return {u"/usr/bin/ditto"_s, {u"-x"_s, u"-k"_s, zip, dir}};
}

ZipReader::ZipReader(const QString &zip, Index index)
{
    // Under the "C" locale libarchive cannot hand out a name that is not ASCII, not even through
    // the _utf8 accessors: it converts each name to the thread's character set on the way in.
    // A UTF-8 character set for this thread alone, for as long as the reader lives (an app
    // started from the Finder has no LANG at all). A Mac names that locale "UTF-8".
    for (const char *name : {"C.UTF-8", "UTF-8"}) {
        if ((utf8_ = ::newlocale(LC_CTYPE_MASK, name, locale_t(0))))
            break;
    }
    if (utf8_)
        previous_ = ::uselocale(utf8_);
    archive_ = archive_read_new();
    if (!archive_) {
        failed_ = true;
        return;
    }
    if (index == Index::Central)
        archive_read_support_format_zip_seekable(archive_);
    else
        archive_read_support_format_zip_streamable(archive_);
    // A Mac's libarchive folds "__MACOSX/" entries into the entries they describe, which would
    // leave them out of one list of names but not of the other.
    failed_ = archive_read_set_format_option(archive_, "zip", "mac-ext", nullptr) != ARCHIVE_OK
              || archive_read_open_filename(archive_, QFile::encodeName(zip).constData(), 64 * 1024) != ARCHIVE_OK;
}

ZipReader::~ZipReader()
{
    if (archive_)
        archive_read_free(archive_);
    if (utf8_) {
        ::uselocale(previous_);
        ::freelocale(utf8_);
    }
}

archive_entry *ZipReader::next()
{
    archive_entry *entry = nullptr;
    const int status = failed_ ? ARCHIVE_FATAL : archive_read_next_header(archive_, &entry);
    // The zip reader's warnings here stand for damage (a local header whose CRC or sizes differ
    // from the central directory's) or for a name that is not UTF-8: none is passed over.
    failed_ = status != ARCHIVE_OK && status != ARCHIVE_EOF;
    return status == ARCHIVE_OK ? entry : nullptr;
}

bool ZipReader::nextBlock(const void *&block, size_t &size, std::int64_t &offset, bool &end)
{
    la_int64_t at = 0;
    const int status = archive_read_data_block(archive_, &block, &size, &at);
    offset = at;
    end = status == ARCHIVE_EOF;
    // Its warnings here are "ZIP bad CRC" and compressed or uncompressed data "is wrong size":
    // the data is damaged, whatever was already handed out of it.
    failed_ = failed_ || (status != ARCHIVE_OK && !end);
    return status == ARCHIVE_OK || end;
}

namespace {

int clearSetIdBitsOf(const char *path, const struct stat *info, int type, struct FTW *)
{
    // FTW_PHYS reports a symbolic link as one and never follows it.
    if (type == FTW_SL || type == FTW_SLN)
        return 0;
    // An unreadable directory could hide anything below it.
    if (type == FTW_DNR || type == FTW_NS)
        return 1;
    if (S_ISCHR(info->st_mode) || S_ISBLK(info->st_mode) || S_ISFIFO(info->st_mode)
        || S_ISSOCK(info->st_mode))
        return 1;
    const mode_t setId = S_ISUID | S_ISGID;
    if ((info->st_mode & setId) == 0)
        return 0;
    // Not a symbolic link, so chmod changes this very entry.
    return ::chmod(path, info->st_mode & 07777 & ~setId) == 0 ? 0 : 1;
}

}  // namespace

bool clearSetIdBits(const QString &dir)
{
    constexpr int openDescriptors = 32;
    return ::nftw(QFile::encodeName(dir).constData(), clearSetIdBitsOf, openDescriptors,
                  FTW_PHYS) == 0;
}

}  // namespace quillmere
