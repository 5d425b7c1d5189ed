#include "ui/installer_controller.h"

#include "download/delta_download.h"
#include "download/package_download.h"
#include "download/signature_url.h"
#include "install/install_script.h"
#include "install/privileged_run.h"
#include "install/verified_stage.h"
#include "platform/plist_value.h"
#include "release/release_check.h"
#include "system/texts.h"
#include "ui/installer_window.h"
#include "ui/progress_bar.h"
#include "ui/spinner.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {
// The message of a failure on the way from a package to a staged bundle.
QString stageFailureMessage(const VerifiedStage &outcome, const QString &appName)
{
    using Status = VerifiedStage::Status;
    switch (outcome.status) {
    case Status::NoStageDirectory:
        return stageDirectoryFailureMessage(outcome.errorDescription);
    case Status::UnpackFailed:
        return unpackFailureMessage();
    case Status::Unsafe:
        return unsafePackageMessage();
    case Status::NoBundle:
        return missingBundleMessage(appName);
    case Status::IdentifierMismatch:
        return identifierMismatchMessage();
    case Status::CannotRunHere:
        return cannotRunHereMessage();
    case Status::VersionMismatch:
        return versionMismatchMessage();
    case Status::InvalidSignature:
        return invalidSignatureMessage();
    case Status::PackageMismatch:
        return packageMismatchMessage();
    case Status::Staged:
    case Status::SignatureNeeded:
        break;
    }
    return {};
}
}  // namespace

InstallerController::InstallerController(Product productToInstall, QObject *parent)
    : QObject(parent),
      product(std::move(productToInstall)),
      temporaryFolder(QDir::tempPath()),
      cacheFolder(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + u"/installer"_s),
      releaseCheck(new ReleaseCheck(product.metadataURL, product.downloadBase, this)),
      window(std::make_unique<InstallerWindow>(product.appName))
{
    statusLabel = window->statusLabel();
    detailLabel = window->detailLabel();
    progress = window->progress();
    actionButton = window->actionButton();
    spinner = window->spinner();

    connect(actionButton, &QPushButton::clicked, this, &InstallerController::primaryAction);
    connect(window->cancelButton(), &QPushButton::clicked, this, &InstallerController::cancel);
    connect(releaseCheck, &ReleaseCheck::finished, this, &InstallerController::finishReleaseCheck);
    progressFrame.setSingleShot(true);
    progressFrame.setInterval(std::chrono::milliseconds(16));
    connect(&progressFrame, &QTimer::timeout, this, [this] {
        if (const auto waiting = std::exchange(waitingProgress, std::nullopt))
            showDownloadProgress(waiting->first, waiting->second);
    });
    window->centreOnScreen();
}

InstallerController::~InstallerController() = default;

QWidget *InstallerController::windowWidget() const
{
    return window.get();
}

void InstallerController::setNetworkTimeout(std::chrono::milliseconds timeout)
{
    downloadLimits.idle = timeout;
    releaseCheck->setIdleLimit(timeout);
}

bool InstallerController::isBusy(State state)
{
    switch (state) {
    case State::Checking:
    case State::Downloading:
    case State::Verifying:
    case State::Installing:
        return true;
    case State::Offered:
    case State::Completed:
    case State::Cancelled:
    case State::Failed:
        return false;
    }
    return false;
}

void InstallerController::enter(State next)
{
    const bool wasBusy = isBusy(std::exchange(currentState, next));
    if (isBusy(next) == wasBusy)
        return;
    actionButton->setEnabled(!isBusy(next));
    if (isBusy(next))
        spinner->startAnimation();
    else
        spinner->stopAnimation();
}

void InstallerController::primaryAction()
{
    switch (currentState) {
    case State::Checking:
    case State::Downloading:
    case State::Verifying:
    case State::Installing:
        return;
    case State::Completed:
        quit();
        return;
    case State::Offered:
    case State::Cancelled:
    case State::Failed:
        if (release)
            beginInstall(*release);
        else
            fetchMetadata();
        return;
    }
}

void InstallerController::cancel()
{
    // The transfer ends without a word: no failure is shown on the way out.
    if (transfer)
        transfer->cancel();
    if (deltaTask)
        deltaTask->cancel();
    Q_EMIT terminateRequested();
}

void InstallerController::quit()
{
    Q_EMIT terminateRequested();
}

void InstallerController::showFailure(const QString &message)
{
    enter(State::Failed);
    actionButton->setText(retryButtonText());
    statusLabel->setText(notCompletedText());
    detailLabel->setText(message);

    QMessageBox alert(QMessageBox::Warning, notCompletedText(), notCompletedText(),
                      QMessageBox::NoButton, window.get());
    alert.setTextFormat(Qt::PlainText);
    alert.setInformativeText(message);
    // setTextFormat governs only the main text; the informative text would be guessed, and
    // a message carrying markup (a tool's output, say) would turn into links.
    if (auto *informative = alert.findChild<QLabel *>(u"qt_msgbox_informativelabel"_s))
        informative->setTextFormat(Qt::PlainText);
    QPushButton *ok = alert.addButton(okButtonText(), QMessageBox::AcceptRole);
    alert.setDefaultButton(ok);
    alert.setEscapeButton(ok);
    alert.exec();
}

void InstallerController::fetchMetadata()
{
    enter(State::Checking);
    // After a package unlike its entry the bar is still full; the check starts afresh.
    progress->hide();
    statusLabel->setText(checkingText());
    actionButton->setText(installButtonText());
    releaseCheck->start();
}

void InstallerController::finishReleaseCheck(const ReleaseCheckResult &result)
{
    switch (result.status) {
    case ReleaseCheckResult::Status::NoAnswer:
        showFailure(checkFailureMessage(result.errorDescription));
        return;
    case ReleaseCheckResult::Status::BadManifest:
        showFailure(manifestFormatMessage());
        return;
    case ReleaseCheckResult::Status::Found:
        break;
    }
    release = result.release;
    expected.reset();
    if (result.packageEntry)
        expected = expectedPackage(result.packageEntry->sizeBytes, result.packageEntry->sha512Base64);

    // Synchronous on the main thread: a short local read, and the window must not change
    // under the user while the offer is decided.
    const std::optional<QString> installed =
        plistValue(product.installPath, u"CFBundleShortVersionString"_s);
    const OfferTexts offer = offerTexts(installed, release->version, release->zipName, release->sizeBytes);
    enter(State::Offered);
    statusLabel->setText(offer.status);
    detailLabel->setText(offer.detail);
    actionButton->setText(offer.button);
}

void InstallerController::beginInstall(const Release &offered)
{
    enter(State::Downloading);
    progress->show();
    progress->setPercentage(0);
    downloadedFile.reset();
    statusLabel->setText(downloadStartText(offered.version));
    detailLabel->setText(offered.zipName);
    startDownload(offered.zipURL, true, true);
}

void InstallerController::startDownload(const QUrl &url, bool delta, bool resume)
{
    // Only where the manifest gives a digest to check what the cache gave.
    const bool checked = expected.has_value();
    const QString base = cacheFolder + u"/base.zip"_s;
    if (delta && checked && QFileInfo(base).isFile()) {
        if (deltaTask)
            deltaTask->deleteLater();
        deltaTask = new DeltaDownload(temporaryFolder, base, this);
        connect(deltaTask, &DeltaDownload::progress, this, &InstallerController::showDownloadProgress);
        connect(deltaTask, &DeltaDownload::finished, this, [this, url](const std::optional<DownloadResult> &result) {
            result ? finishDownload(*result) : startDownload(url, false, true);
        });
        deltaTask->start(url, downloadLimits);
        return;
    }
    // The earlier attempt has ended; what it kept of a failed transfer is asked for no more.
    // It goes once control is back in the event loop.
    auto *next = new PackageDownload(temporaryFolder, this);
    if (checked)
        next->keepPartialIn(cacheFolder);
    if (transfer) {
        if (resume)
            next->resumeFrom(*transfer);
        transfer->deleteLater();
    }
    transfer = next;
    connect(transfer, &PackageDownload::progress, this, &InstallerController::showDownloadProgress);
    connect(transfer, &PackageDownload::finished, this, &InstallerController::finishDownload);
    PackageDownload::Limits limits = downloadLimits;
    if (expected)
        limits.bytes = expected->size;
    transfer->start(url, limits);
}

void InstallerController::showDownloadProgress(qint64 written, qint64 total)
{
    // Notices come by the thousand a second and QProgressBar paints each step at once: more
    // than a screen shows, and the painting took over a tenth of the transfer's CPU time.
    if (progressFrame.isActive()) {
        waitingProgress = {written, total};
        return;
    }
    progress->setPercentage(downloadPercentage(written, total));
    statusLabel->setText(downloadProgressText(written, total, release ? release->version : QString()));
    progressFrame.start();
}

void InstallerController::finishDownload(const DownloadResult &result)
{
    // What follows replaces the download's last frame.
    progressFrame.stop();
    waitingProgress.reset();
    downloadedFile = result.placedFile;
    if (result.tooLong) {
        rejectPackage();
        return;
    }
    if (result.errorDescription || !downloadedFile) {
        progress->hide();
        showFailure(result.errorDescription ? downloadFailureMessage(*result.errorDescription)
                                            : incompleteDownloadMessage());
        return;
    }
    verify(result);
}

void InstallerController::verify(const DownloadResult &download)
{
    progress->setPercentage(100);
    statusLabel->setText(verifyingText());
    enter(State::Verifying);
    // Staging runs on this thread: paint the new state now, or the window would show the last
    // download frame until it has finished.
    window->repaint();
    stage({*download.placedFile, download.sha512, download.size}, std::nullopt, download.reusedCache);
}

void InstallerController::rejectPackage()
{
    // The server may have published another version since the offer: the retry asks.
    release.reset();
    expected.reset();
    progress->setPercentage(100);
    showFailure(packageMismatchMessage());
}

void InstallerController::fetchSignature(const DownloadedPackage &package)
{
    // Through the same transfer as the package, so the same certificate checks and limits
    // apply; it replaces the package's finished transfer, which goes once back in the loop.
    if (transfer)
        transfer->deleteLater();
    transfer = new PackageDownload(temporaryFolder, this);
    connect(transfer, &PackageDownload::finished, this,
            [this, package](const DownloadResult &result) { finishSignature(package, result); });
    PackageDownload::Limits limits = downloadLimits;
    limits.bytes = signatureByteLimit;
    transfer->start(signatureURL(release ? release->zipURL : QUrl()), limits);
}

void InstallerController::finishSignature(const DownloadedPackage &package, const DownloadResult &result)
{
    if (result.errorDescription) {
        progress->hide();
        showFailure(downloadFailureMessage(*result.errorDescription));
        return;
    }
    // A missing signature is an error page here, which is no signature either, and so is one
    // that goes on past the bound (nothing of it is placed).
    stage(package, result.placedFile.value_or(QString()), false);
}

void InstallerController::stage(const DownloadedPackage &package, const std::optional<QString> &signatureFile,
                                bool reusedCache)
{
    const VerifiedStage staged = stageVerifiedPackage(
        {package, expected, product.packagePublicKey, signatureFile, temporaryFolder, product.appName,
         product.bundleId, release ? release->version : QString()});
    switch (staged.status) {
    case VerifiedStage::Status::Staged:
        break;
    case VerifiedStage::Status::PackageMismatch:
        if (reusedCache && release) {
            // Nothing from the cache is trusted: what it gave is dropped (it was placed with
            // the rest), and the whole package is fetched once more, without a word.
            enter(State::Downloading);
            progress->setPercentage(0);
            statusLabel->setText(downloadStartText(release->version));
            startDownload(release->zipURL, false, false);
            return;
        }
        rejectPackage();
        return;
    case VerifiedStage::Status::SignatureNeeded:
        fetchSignature(package);
        return;
    default:
        showFailure(stageFailureMessage(staged, product.appName));
        return;
    }
    install(staged.stageDirectory, staged.stagedApp, package);
    // The package installed is the base the next update may build on.
    if (installed() && QDir().mkpath(cacheFolder)) {
        const QString base = cacheFolder + u"/base.zip"_s;
        QFile::remove(base);
        (void)QFile::rename(package.path, base);
    }
}

void InstallerController::install(const QString &stageDirectory, const QString &stagedApp,
                                  const DownloadedPackage &package)
{
    enter(State::Installing);
    statusLabel->setText(installingText());
    detailLabel->setText(adminRightsText());
    window->repaint();

    const QString scriptPath = installScriptPath(stageDirectory);
    const InstallPlan plan = installPlan(product.installPath, package, stagedApp, elevator);
    if (const std::optional<QString> error = writeInstallScript(scriptPath, plan.script)) {
        showFailure(scriptFailureMessage(*error));
        return;
    }
    // Returns once the password prompt has been answered and the script has finished.
    const InstallRun ran = runInstall(plan);
    switch (ran.outcome) {
    case InstallOutcome::Completed:
        finishSuccessfully(release ? release->version : QString());
        return;
    case InstallOutcome::Cancelled:
        // Nothing was changed; the button keeps its title and starts everything over.
        statusLabel->setText(cancelledText());
        detailLabel->setText(nothingChangedText());
        progress->hide();
        enter(State::Cancelled);
        return;
    case InstallOutcome::Failed:
        showFailure(installFailureMessage(ran.result));
        return;
    }
}

void InstallerController::finishSuccessfully(const QString &version)
{
    progress->hide();
    enter(State::Completed);
    statusLabel->setText(completedText());
    detailLabel->setText(installedText(product.appName, version));
    actionButton->setText(doneButtonText());
}

}  // namespace quillmere
