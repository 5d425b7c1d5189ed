#pragma once

#include <QString>

namespace quillmere {

// How staging a package ended.
struct StageOutcome {
    enum class Status {
        Staged,             // stageDirectory and stagedApp are set
        NoStageDirectory,   // errorDescription holds the system's words
        UnpackFailed,       // unreadable, cut short, or the disk refused it
        Unsafe,             // an entry or a link could reach outside; nothing of it is used
        NoBundle,           // no appName + ".app" at the top
        IdentifierMismatch, // no regular Contents/Info.plist carrying bundleId
        CannotRunHere,      // built for another processor, or for a later macOS (bundleRunsOn)
        VersionMismatch,    // the bundle names a version other than the one offered
    };
    Status status;
    QString stageDirectory;
    QString stagedApp;
    QString errorDescription;
};

// Stages the zip at zipPath below temporaryFolder: its entry list is checked before anything is
// written (checkArchive), then it is unpacked into a new stage directory, set-id bits are
// cleared, and the bundle appName + ".app" at its top must be a real directory whose links all
// resolve inside it and whose regular file Contents/Info.plist carries bundleId; it must be able
// to run on this machine (its executable's processors, its minimum macOS) and, where it names its
// version (CFBundleShortVersionString), be offeredVersion. A stage
// directory whose unpacking failed is removed; every other one stays. Synchronous: the
// extractor and the property list reader run on the calling thread.
[[nodiscard]] StageOutcome stagePackage(const QString &zipPath, const QString &temporaryFolder,
                                        const QString &appName, const QString &bundleId,
                                        const QString &offeredVersion);

}  // namespace quillmere
