#include "install/verified_stage.h"

#include "install/package_signature.h"
#include "install/staging.h"

namespace quillmere {

VerifiedStage stageVerifiedPackage(const PackageToStage &input)
{
    using Status = VerifiedStage::Status;
    const DownloadedPackage &package = input.package;
    if (input.expected && !packageMatches(*input.expected, package.size, package.sha512))
        return {Status::PackageMismatch, {}, {}, {}};
    if (!input.publicKey.isEmpty()) {
        if (!input.signatureFile)
            return {Status::SignatureNeeded, {}, {}, {}};
        if (input.signatureFile->isEmpty()
            || !packageSignatureValid(package.path, *input.signatureFile, input.publicKey))
            return {Status::InvalidSignature, {}, {}, {}};
    }
    const StageOutcome staged = stagePackage(package.path, input.temporaryFolder, input.appName, input.bundleId,
                                             input.offeredVersion);
    const auto status = [&] {
        switch (staged.status) {
        case StageOutcome::Status::Staged: return Status::Staged;
        case StageOutcome::Status::NoStageDirectory: return Status::NoStageDirectory;
        case StageOutcome::Status::UnpackFailed: return Status::UnpackFailed;
        case StageOutcome::Status::Unsafe: return Status::Unsafe;
        case StageOutcome::Status::NoBundle: return Status::NoBundle;
        case StageOutcome::Status::IdentifierMismatch: return Status::IdentifierMismatch;
        case StageOutcome::Status::CannotRunHere: return Status::CannotRunHere;
        case StageOutcome::Status::VersionMismatch: return Status::VersionMismatch;
        }
        return Status::UnpackFailed;
    }();
    return {status, staged.stageDirectory, staged.stagedApp, staged.errorDescription};
}

}  // namespace quillmere
