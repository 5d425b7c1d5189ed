#include "install/archive_check.h"

#include "platform/unpack.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>

#include <archive_entry.h>
#include <zip.h>

#include <memory>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// The components of an entry's name, "." left out; nothing when the name is absolute, holds
// ".." or names nothing.
std::optional<QStringList> nameComponents(const QString &name)
{
    if (name.startsWith(u'/'))
        return std::nullopt;
    QStringList parts;
    for (const QString &part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part != u".")
            parts << part;
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts;
}

bool resolveInside(QStringList &at, const QString &target, const LinkReader &readLink, int &budget)
{
    if (target.isEmpty() || target.startsWith(u'/'))
        return false;
    for (const QString &part : target.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (at.isEmpty())
                return false;
            at.removeLast();
            continue;
        }
        at << part;
        if (const std::optional<QString> next = readLink(at)) {
            at.removeLast();
            if (--budget < 0 || !resolveInside(at, *next, readLink, budget))
                return false;
        }
    }
    return true;
}

// A name as a Mac's file system compares it: case folded, in one normalisation form.
QString macKey(const QString &name)
{
    return name.normalized(QString::NormalizationForm_D).toCaseFolded().normalized(QString::NormalizationForm_D);
}

// The names of the central directory as libzip reads them, composed (NFC), in its order;
// nothing when it cannot be read. libarchive's reader that follows the central directory takes
// each entry's name from its local header, so it cannot see a central name that differs.
std::optional<QStringList> centralNames(const QString &zipPath)
{
    int error = 0;
    const std::unique_ptr<zip_t, decltype(&zip_discard)> zip(
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &error), zip_discard);
    if (!zip)
        return std::nullopt;
    QStringList names;
    for (zip_int64_t i = 0, count = zip_get_num_entries(zip.get(), 0); i < count; ++i) {
        const char *name = zip_get_name(zip.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!name)
            return std::nullopt;
        names << QString::fromUtf8(name).normalized(QString::NormalizationForm_C);
    }
    return names;
}

// The local headers' names, walked one after the other as a streaming reader finds them,
// composed (NFC); nothing when they cannot be walked to the end.
std::optional<QStringList> localNames(const QString &zipPath)
{
    ZipReader reader(zipPath, ZipReader::Index::Local);
    QStringList names;
    while (archive_entry *entry = reader.next()) {
        const char *name = archive_entry_pathname_utf8(entry);
        if (!name)
            return std::nullopt;
        names << QString::fromUtf8(name).normalized(QString::NormalizationForm_C);
    }
    return reader.failed() ? std::nullopt : std::optional(names);
}

}  // namespace

bool linkStaysInside(QStringList at, const QString &target, const LinkReader &readLink)
{
    int budget = 40;  // as many links as the system follows in one path
    return resolveInside(at, target, readLink, budget);
}

ArchiveVerdict checkArchive(const QString &zipPath)
{
    const std::optional<QStringList> central = centralNames(zipPath);
    if (!central)
        return ArchiveVerdict::Unreadable;
    // The entries as the central directory leads to them, each read through its data: a bad CRC
    // or a size that disagrees with the data is seen here, before anything is written.
    ZipReader reader(zipPath, ZipReader::Index::Central);
    QStringList read;                      // every entry's name as read, composed
    QSet<QString> names;                   // every entry's name as a Mac compares it (macKey)
    QHash<QString, QString> links;         // a link's name (macKey of its joined components) → its target
    QList<QStringList> placed;             // every entry's and every hard link target's name
    while (archive_entry *entry = reader.next()) {
        const char *rawName = archive_entry_pathname_utf8(entry);
        if (!rawName || !reader.readData([](const void *, size_t, std::int64_t) { return true; }))
            return ArchiveVerdict::Unreadable;
        read << QString::fromUtf8(rawName).normalized(QString::NormalizationForm_C);
        const std::optional<QStringList> name = nameComponents(QString::fromUtf8(rawName));
        if (!name || names.contains(macKey(name->join(u'/'))))
            return ArchiveVerdict::Unsafe;
        names.insert(macKey(name->join(u'/')));
        placed << *name;
        // No zip entry is a hard link today; should the reader ever make one, its target is
        // held to what an entry's name is held to.
        if (const char *hardLink = archive_entry_hardlink_utf8(entry)) {
            const std::optional<QStringList> target = nameComponents(QString::fromUtf8(hardLink));
            if (!target)
                return ArchiveVerdict::Unsafe;
            placed << *target;
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
            break;
        case AE_IFLNK:
            links.insert(macKey(name->join(u'/')), QString::fromUtf8(archive_entry_symlink_utf8(entry)));
            break;
        default:  // devices, FIFOs and sockets have no place in an application
            return ArchiveVerdict::Unsafe;
        }
    }
    if (reader.failed())
        return ArchiveVerdict::Unreadable;
    // One list of names, whichever an extractor trusts: the central directory's, the local
    // headers' it leads to, and the local headers' one after the other.
    const std::optional<QStringList> local = localNames(zipPath);
    if (!local)
        return ArchiveVerdict::Unreadable;
    QStringList lists[] = {*central, read, *local};
    for (QStringList &list : lists)
        list.sort();
    if (lists[0] != lists[1] || lists[1] != lists[2])
        return ArchiveVerdict::Unsafe;

    // Nothing may be written through a link: the extractor would follow it wherever it points.
    for (const QStringList &name : std::as_const(placed)) {
        for (qsizetype depth = 1; depth < name.size(); ++depth) {
            if (links.contains(macKey(name.first(depth).join(u'/'))))
                return ArchiveVerdict::Unsafe;
        }
    }
    const LinkReader inArchive = [&links](const QStringList &at) -> std::optional<QString> {
        const auto found = links.constFind(macKey(at.join(u'/')));
        return found == links.cend() ? std::nullopt : std::optional<QString>(*found);
    };
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        QStringList folder = it.key().split(u'/');
        folder.removeLast();
        if (!linkStaysInside(folder, it.value(), inArchive))
            return ArchiveVerdict::Unsafe;
    }
    return ArchiveVerdict::Safe;
}

bool linksStayInside(const QString &root)
{
    const LinkReader onDisk = [&root](const QStringList &at) -> std::optional<QString> {
        const QByteArray path = QFile::encodeName(root + u'/' + at.join(u'/'));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return std::nullopt;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), target, sizeof target);
        // An unreadable link resolves nowhere that could be checked: "/" fails it.
        return length < 0 ? u"/"_s : QFile::decodeName(QByteArray(target, length));
    };
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo found = it.nextFileInfo();
        if (!found.isSymLink())
            continue;
        QStringList folder = found.filePath().mid(root.size() + 1).split(u'/');
        const std::optional<QString> target = onDisk(folder);
        folder.removeLast();
        if (!target || !linkStaysInside(folder, *target, onDisk))
            return false;
    }
    return true;
}

}  // namespace quillmere
