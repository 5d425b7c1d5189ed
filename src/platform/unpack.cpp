#include "platform/unpack.h"

#include <QFile>

#include <ftw.h>
#include <sys/stat.h>

namespace quillmere {

using namespace Qt::StringLiterals;

ToolCommand dittoUnpackCommand(const QString &zip, const QString &dir)
{
    return {u"/usr/bin/ditto"_s, {u"-x"_s, u"-k"_s, zip, dir}};
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
