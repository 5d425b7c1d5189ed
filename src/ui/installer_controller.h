#pragma once

#include "download/package_download.h"
#include "install/install_plan.h"
#include "install/package_check.h"
#include "release/release.h"
#include "system/product.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

QT_BEGIN_NAMESPACE
class QLabel;
class QPushButton;
QT_END_NAMESPACE

namespace quillmere {

class DeltaDownload;
class InstallerWindow;
class ProgressBar;
class ReleaseCheck;
class Spinner;
struct ReleaseCheckResult;

// Drives the installer: owns the window and its controls, the release on offer, the
// download's objects and the one state value below. Main thread only.
class InstallerController : public QObject {
    Q_OBJECT
public:
    // Where the installer stands. Checking, Downloading, Verifying and Installing are busy: the
    // primary button is disabled and the spinner turns. Offered is also the state before the
    // first check (no release held yet).
    enum class State { Checking, Offered, Downloading, Verifying, Installing, Completed, Cancelled, Failed };

    // Builds the window and its controls; the window is not shown.
    explicit InstallerController(Product productToInstall, QObject *parent = nullptr);
    ~InstallerController() override;

    [[nodiscard]] QWidget *windowWidget() const;
    [[nodiscard]] const std::optional<Release> &currentRelease() const { return release; }
    [[nodiscard]] State state() const { return currentState; }
    [[nodiscard]] bool working() const { return isBusy(currentState); }
    [[nodiscard]] bool installed() const { return currentState == State::Completed; }
    [[nodiscard]] const std::optional<QString> &placedPackage() const { return downloadedFile; }

    // The longest wait for further data from the server (transferIdleLimit); tests shorten it.
    void setNetworkTimeout(std::chrono::milliseconds timeout);
    // The longest time a package download may take in all (downloadTotalLimit); tests shorten it.
    void setDownloadTimeLimit(std::chrono::milliseconds limit) { downloadLimits.total = limit; }
    // Where downloads and stage directories go (the user's temporary folder); tests change it.
    void setTemporaryFolder(const QString &folder) { temporaryFolder = folder; }
    // Where a download's partial file and the last package installed are kept (a folder of
    // the platform's cache location); tests change it.
    void setCacheFolder(const QString &folder) { cacheFolder = folder; }
    // What asks for administrator rights on Linux (pkexec); tests put a stand-in there.
    void setElevator(const Elevator &standIn) { elevator = standIn; }

public Q_SLOTS:
    // The primary button, by state: ignored while busy; once installation is complete, asks to
    // quit; otherwise starts the release check when no release is held, or else the download of
    // the held release (which stays held).
    void primaryAction();
    // The cancel button: cancels the running download, if any, then asks to quit. No alert.
    void cancel();
    // Asks to quit.
    void quit();

    // The one failure path: enters Failed, turns the button into "重试", shows the
    // message in the window and in a modal alert, and returns once the alert is dismissed.
    // Leaves the progress bar, the release and the download's objects as they are.
    void showFailure(const QString &message);

    // The release check: asks the server for the manifest and offers install, update or
    // reinstall. Returns at once; the outcome arrives later on the main thread.
    void fetchMetadata();

Q_SIGNALS:
    // The controller wants the process to end (the application connects this to quit).
    void terminateRequested();

private:
    // The second half of the release check, once its outcome is in: stores the release and
    // shows the offer, or fails.
    void finishReleaseCheck(const ReleaseCheckResult &result);

    [[nodiscard]] static bool isBusy(State state);
    // The only place the state changes. Entering or leaving the busy states switches the
    // button's enabled state and the spinner.
    void enter(State next);

    // Starts the download of `offered` (a copy; the held release is not changed): busy state,
    // bar shown at 0, downloadedFile cleared, a new session and transfer.
    void beginInstall(const Release &offered);
    // The transfer of beginInstall. With `delta`, when the cache holds the last package installed
    // and the entry a digest to check against, only the chunks it lacks are fetched (falling back
    // to the whole package when that cannot be done); with `resume`, a partial file of an
    // earlier attempt is continued.
    void startDownload(const QUrl &url, bool delta, bool resume);
    // A progress notice: the bar and the status text, at most once per frame of the screen.
    void showDownloadProgress(qint64 written, qint64 total);
    // The end of a transfer: a failure ends the busy state and goes to showFailure; a placed
    // file is kept in downloadedFile and handed to verify, still busy.
    void finishDownload(const DownloadResult &result);
    // The verifying state (bar full, "正在校验…"), then stage without a signature yet. Busy.
    void verify(const DownloadResult &download);
    // A package that is not the one the manifest describes (or more of it came than described):
    // the held release is dropped, so that the retry asks the server again; the bar is full.
    void rejectPackage();
    // In a build with a package key: the package's signature (signatureURL of zipURL) is fetched
    // as transfer; finishSignature follows. Busy throughout.
    void fetchSignature(const DownloadedPackage &package);
    // The end of the signature's transfer: a failed transfer goes to showFailure; otherwise
    // stage with what came.
    void finishSignature(const DownloadedPackage &package, const DownloadResult &result);
    // Hands the package to stageVerifiedPackage and acts on its outcome: a mismatch from the
    // cache (reusedCache) fetches the whole package again, any other mismatch goes to
    // rejectPackage, a needed signature to fetchSignature, a staged bundle to install, every
    // other failure to showFailure (the installed copy stays as it was). Synchronous on the
    // main thread, so the window takes no input meanwhile.
    void stage(const DownloadedPackage &package, const std::optional<QString> &signatureFile, bool reusedCache);
    // Runs the install script with administrator rights (root installs from its own checked
    // copy of the package; the text is kept as install.sh in the stage directory, and nothing
    // runs that file); ends completed, cancelled (the prompt was dismissed) or failed.
    void install(const QString &stageDirectory, const QString &stagedApp,
                 const DownloadedPackage &package);
    // The completed state: "完成" now ends the application.
    void finishSuccessfully(const QString &version);

    Product product;
    PackageDownload::Limits downloadLimits;
    QString temporaryFolder;
    QString cacheFolder;
    Elevator elevator;
    ReleaseCheck *releaseCheck;

    std::unique_ptr<InstallerWindow> window;
    QLabel *statusLabel;
    QLabel *detailLabel;
    ProgressBar *progress;
    QPushButton *actionButton;
    Spinner *spinner;

    // From the last successful release check; cleared when the package does not match it.
    std::optional<Release> release;
    // What release's package must be, when the manifest's entry for it is checked at all.
    std::optional<ExpectedPackage> expected;
    // The most recent transfer (its own connection: nothing of an earlier one is reused), made
    // by beginInstall for the package and by fetchSignature for its signature, and kept after it has
    // ended until the next one replaces it; cancel stops it.
    PackageDownload *transfer = nullptr;
    DeltaDownload *deltaTask = nullptr;      // the most recent delta update, kept likewise
    std::optional<QString> downloadedFile;   // where the most recent download was placed
    // Runs for a frame (1/60 s) after a progress notice is shown; a later one waits for it.
    QTimer progressFrame;
    std::optional<std::pair<qint64, qint64>> waitingProgress; // written, total
    State currentState = State::Offered;
};

}  // namespace quillmere
