#include "platform/unpack.h"

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace quillmere {

namespace {

using Archive = std::unique_ptr<archive, int (*)(archive *)>;

bool copyData(archive *from, archive *to)
{
    const void *block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = archive_read_data_block(from, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return true;
        // A write that fails (a full disk) is only a warning to libarchive.
        if (status < ARCHIVE_WARN || archive_write_data_block(to, block, size, offset) < 0)
            return false;
    }
}

}  // namespace

bool unpackArchive(const QString &zip, const QString &dir)
{
    // The stage directory's own path may pass through a link (a temporary folder that is one);
    // the secure flags below would take that for an entry written through a link.
    const QString root = QFileInfo(dir).canonicalFilePath();
    if (root.isEmpty())
        return false;
    const Archive in(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(in.get());
    const Archive out(archive_write_disk_new(), archive_write_free);
    // No ARCHIVE_EXTRACT_OWNER or _PERM: files belong to whoever unpacks them, modes pass
    // through the umask and lose their setuid, setgid and sticky bits. Names are made absolute
    // below, after checkArchive has refused absolute ones, so that flag is not wanted either.
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                  | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (archive_read_open_filename(in.get(), QFile::encodeName(zip).constData(), 64 * 1024) != ARCHIVE_OK)
        return false;
    const QByteArray prefix = QFile::encodeName(root) + '/';
    archive_entry *entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(in.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
        const char *name = archive_entry_pathname(entry);
        if (!name || name[0] == '/')
            return false;
        archive_entry_set_pathname(entry, (prefix + name).constData());
        if (const char *hardLink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (prefix + hardLink).constData());
        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN || !copyData(in.get(), out.get())
            || archive_write_finish_entry(out.get()) < ARCHIVE_WARN)
            return false;
    }
    return status == ARCHIVE_EOF && archive_write_close(out.get()) == ARCHIVE_OK;
}

}  // namespace quillmere
