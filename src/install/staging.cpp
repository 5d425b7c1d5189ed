#include "install/staging.h"

#include "install/archive_check.h"
#include "install/runnable.h"
#include "platform/machine.h"
#include "platform/plist_value.h"
#include "platform/unpack.h"
#include "system/private_directory.h"
#include "system/text.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

mode_t typeOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

}  // namespace

StageOutcome stagePackage(const QString &zipPath, const QString &temporaryFolder,
                          const QString &appName, const QString &bundleId,
                          const QString &offeredVersion)
{
    using Status = StageOutcome::Status;
    switch (checkArchive(zipPath)) {
    case ArchiveVerdict::Unreadable:
        return {Status::UnpackFailed, {}, {}, {}};
    case ArchiveVerdict::Unsafe:
        return {Status::Unsafe, {}, {}, {}};
    case ArchiveVerdict::Safe:
        break;
    }
    // It will hold a script that runs with administrator rights.
    const PrivateDirectory stage = createPrivateDirectory(temporaryFolder, u"quillmere-stage-"_s);
    if (stage.path.isEmpty())
        return {Status::NoStageDirectory, {}, {}, stage.errorDescription};
    // Set-id bits that an archive carries are cleared before anything is copied with
    // administrator rights.
    if (!unpackArchive(zipPath, stage.path) || !clearSetIdBits(stage.path)) {
        // What a failed unpacking left is of no use, and an archive that expands beyond the
        // free space would otherwise keep the disk full and make the retry fail as well. (Links
        // are removed, never followed.)
        QDir(stage.path).removeRecursively();
        return {Status::UnpackFailed, {}, {}, {}};
    }
    const QString app = stage.path + u'/' + appName + u".app"_s;
    const mode_t bundleType = typeOf(app);
    // A link named like the bundle could point anywhere, the installed copy included.
    if (bundleType == 0 || bundleType == S_IFLNK)
        return {Status::NoBundle, stage.path, {}, {}};
    // The script copies the bundle with administrator rights, links as links: one that leads
    // out of it (Contents itself, Info.plist, the executable, anything deeper) would install a
    // copy that is not what was checked.
    if (bundleType == S_IFDIR && !linksStayInside(app))
        return {Status::Unsafe, stage.path, {}, {}};
    if (typeOf(app + u"/Contents"_s) != S_IFDIR || typeOf(app + u"/Contents/Info.plist"_s) != S_IFREG
        || plistValue(app, u"CFBundleIdentifier"_s) != bundleId)
        return {Status::IdentifierMismatch, stage.path, {}, {}};
    // Built for another processor or a later macOS, it would take the place of a copy that works.
    if (!bundleRunsOn(app, appName, thisMachine()))
        return {Status::CannotRunHere, stage.path, {}, {}};
    // What installs is what was offered: an old package, signed all the same, served under a
    // newer manifest would otherwise be reported as the newer version. A bundle that names no
    // version installs as it is.
    if (const std::optional<QString> version = plistValue(app, u"CFBundleShortVersionString"_s);
        version && *version != trimmedText(offeredVersion))
        return {Status::VersionMismatch, stage.path, {}, {}};
    return {Status::Staged, stage.path, app, {}};
}

}  // namespace quillmere
