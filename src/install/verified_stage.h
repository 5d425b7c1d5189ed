#pragma once

#include "install/install_plan.h"
#include "install/package_check.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillmere {

// A downloaded package and what it must be checked against.
struct PackageToStage {
    DownloadedPackage package;
    std::optional<ExpectedPackage> expected; // absent: the manifest checks nothing of it
    QByteArray publicKey;                    // empty: the build checks no signature
    // The signature fetched for the package; absent: not fetched yet. An empty path is a
    // signature that did not come whole (an error page, one past its bound).
    std::optional<QString> signatureFile;
    QString temporaryFolder;
    QString appName;
    QString bundleId;
    QString offeredVersion;
};

// How turning a package into a staged bundle ended.
struct VerifiedStage {
    enum class Status {
        Staged,             // stageDirectory and stagedApp are set
        PackageMismatch,    // not the package the manifest's entry describes
        SignatureNeeded,    // the package matches; its signature must be fetched and passed in
        InvalidSignature,   // the signature is missing, malformed or not the key's
        NoStageDirectory,   // errorDescription holds the system's words
        UnpackFailed,
        Unsafe,
        NoBundle,
        IdentifierMismatch,
        CannotRunHere,
        VersionMismatch,
    };
    Status status;
    QString stageDirectory;
    QString stagedApp;
    QString errorDescription;
};

// The one way from a downloaded package to a staged bundle: the size and digest against the
// manifest's entry, then (with a key) the signature, then stagePackage (entries, unpacking, the
// bundle's identifier, whether it runs here, its version). Each step runs only once the one before
// it has passed; nothing is staged for a package that fails one. Synchronous.
[[nodiscard]] VerifiedStage stageVerifiedPackage(const PackageToStage &input);

}  // namespace quillmere
