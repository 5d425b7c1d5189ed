#include "platform/unpack.h"

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace quillmere {

bool unpackArchive(const QString &zip, const QString &dir)
{
    // The stage directory's own path may pass through a link (a temporary folder that is one);
    // the secure flags below would take that for an entry written through a link.
    const QString root = QFileInfo(dir).canonicalFilePath();
    if (root.isEmpty())
        return false;
    // The entries the check read, in its order: those the central directory lists.
    ZipReader in(zip, ZipReader::Index::Central);
    const std::unique_ptr<archive, int (*)(archive *)> out(archive_write_disk_new(), archive_write_free);
    // No ARCHIVE_EXTRACT_OWNER or _PERM: files belong to whoever unpacks them, modes pass
    // through the umask and lose their setuid, setgid and sticky bits. Names are made absolute
    // below, after checkArchive has refused absolute ones, so that flag is not wanted either.
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                  | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    const QByteArray prefix = QFile::encodeName(root) + '/';
    int entries = 0;
    while (archive_entry *entry = in.next()) {
        ++entries;
        // As UTF-8: libarchive hands a name written in decomposed form (NFD) over composed (NFC).
        const char *name = archive_entry_pathname_utf8(entry);
        if (!name || name[0] == '/')
            return false;
        archive_entry_update_pathname_utf8(entry, (prefix + name).constData());
        if (const char *hardLink = archive_entry_hardlink_utf8(entry))
            archive_entry_update_hardlink_utf8(entry, (prefix + hardLink).constData());
        // Only the writer's failures count; its warnings (a time it could not set) stay harmless,
        // but a data write that fails, a full disk, is only a warning to it too.
        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN
            || !in.readData([&out](const void *block, size_t size, std::int64_t offset) {
                   return archive_write_data_block(out.get(), block, size, offset) >= 0;
               })
            || archive_write_finish_entry(out.get()) < ARCHIVE_WARN)
            return false;
    }
    // No entry at all is no package: libarchive reads a zip whose one central record is damaged
    // as an empty one.
    return entries > 0 && !in.failed() && archive_write_close(out.get()) == ARCHIVE_OK;
}

}  // namespace quillmere
