#include "install/archive_check.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

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

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;

}  // namespace

bool linkStaysInside(QStringList at, const QString &target, const LinkReader &readLink)
{
    int budget = 40;  // as many links as the system follows in one path
    return resolveInside(at, target, readLink, budget);
}

ArchiveVerdict checkArchive(const QString &zipPath)
{
    const Reader reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(zipPath).constData(), 64 * 1024)
        != ARCHIVE_OK)
        return ArchiveVerdict::Unreadable;

    QSet<QString> names;
    QHash<QString, QString> links;         // an entry's name (joined components) → its target
    QList<QStringList> placed;             // every entry's and every hard link target's name
    archive_entry *entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK
           || status == ARCHIVE_WARN) {
        const char *rawName = archive_entry_pathname(entry);
        if (!rawName)
            return ArchiveVerdict::Unreadable;
        const std::optional<QStringList> name = nameComponents(QString::fromUtf8(rawName));
        if (!name || names.contains(name->join(u'/')))
            return ArchiveVerdict::Unsafe;
        names.insert(name->join(u'/'));
        placed << *name;
        // No zip entry is a hard link today; should the reader ever make one, its target is
        // held to what an entry's name is held to.
        if (const char *hardLink = archive_entry_hardlink(entry)) {
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
            links.insert(name->join(u'/'), QString::fromUtf8(archive_entry_symlink(entry)));
            break;
        default:  // devices, FIFOs and sockets have no place in an application
            return ArchiveVerdict::Unsafe;
        }
    }
    if (status != ARCHIVE_EOF)
        return ArchiveVerdict::Unreadable;

    // Nothing may be written through a link: the extractor would follow it wherever it points.
    for (const QStringList &name : std::as_const(placed)) {
        for (qsizetype depth = 1; depth < name.size(); ++depth) {
            if (links.contains(name.first(depth).join(u'/')))
                return ArchiveVerdict::Unsafe;
        }
    }
    const LinkReader inArchive = [&links](const QStringList &at) -> std::optional<QString> {
        const auto found = links.constFind(at.join(u'/'));
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
