#pragma once

#include "system/transfer.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

QT_BEGIN_NAMESPACE
class QFile;
class QNetworkAccessManager;
class QNetworkReply;
QT_END_NAMESPACE

namespace quillmere {

class Sha512Thread;

// How a package download ended.
struct DownloadResult {
    // The transfer failed: the network layer's words (or the disk's, when writing failed).
    std::optional<QString> errorDescription;
    // Where the received file was placed; absent when the transfer failed or placement did.
    std::optional<QString> placedFile;
    // With a placed file: its SHA-512 (64 bytes) and size, of the whole file.
    QByteArray sha512;
    qint64 size = 0;
    // Some of the bytes came from a file the cache kept, not from this transfer.
    bool reusedCache = false;
    // More came than Limits::bytes allows: cut off there, nothing kept, no error description.
    bool tooLong = false;
};

// One transfer of a package to disk, one object per attempt: a plain HTTPS GET through
// QNetworkAccessManager (so through the proxy the system names for the URL), redirects to
// https followed, at most 10. Each piece is written to a private temporary file and hashed as
// it arrives (on a thread of its own, so the hashing overlaps the transfer), so memory stays
// flat whatever the package's size and no second pass is needed.
// Once the transfer has ended the file is moved (never copied) into a new directory
// "quillmere-installer-" + UUID under the temporary folder. An answer with an HTTP error
// status is not a failure here: its body is placed like a package. Knows nothing of the
// window; main thread only.
class PackageDownload : public QObject {
    Q_OBJECT
public:
    struct Limits {
        std::chrono::milliseconds idle{transferIdleLimit};   // without any data
        std::chrono::milliseconds total{downloadTotalLimit}; // for the whole transfer
        std::optional<qint64> bytes;                         // the most the whole file may hold
    };

    // Places the file below `folder`.
    explicit PackageDownload(QString folder, QObject *parent = nullptr);
    ~PackageDownload() override;

    // Takes over the bytes that `earlier` kept from a failed transfer, so that start() of the
    // same URL asks only for the rest. Does nothing when `earlier` kept none (it completed,
    // was cancelled, or the server gave no validator to resume on). Before start().
    void resumeFrom(PackageDownload &earlier);

    // Keeps the transfer's file in `folder` (made private when missing) under a name that holds
    // its URL and validator, so that a later attempt of the same URL, in this run or in
    // another, continues it with a range; any other partial file there goes. Before start().
    void keepPartialIn(const QString &folder);

    // Starts the transfer and returns; progress() and one finished() follow later.
    void start(const QUrl &url, Limits limits);

    // Aborts the transfer. Nothing is reported afterwards, not even finished().
    void cancel();

Q_SIGNALS:
    // Bytes of the whole file so far (those kept from an earlier attempt included) of its
    // announced length (at least 1). Not sent when the server announces no length.
    void progress(qint64 written, qint64 total);
    // Sent exactly once per transfer, unless it was cancelled.
    void finished(const quillmere::DownloadResult &result);

private:
    enum class State { Ready, Running, Finished, Cancelled };

    void request();
    void adoptPartial();
    void nameAfterValidator();
    void discardFile();
    void receive(bool all = false);
    [[nodiscard]] bool acceptAnswer();
    void replyFinished();
    void complete(DownloadResult result);
    void dropReply();
    void startOver();
    [[nodiscard]] std::optional<QString> place();

    QString temporaryFolder;
    QString cacheFolder;                // where the partial file is kept; empty: nowhere
    QUrl requested; // names the placed file
    Limits limits;
    QDeadlineTimer deadline;            // the end of the total limit
    State state = State::Ready;
    QNetworkAccessManager *session;
    QNetworkReply *reply = nullptr;
    TransferLimits *watcher = nullptr;
    std::unique_ptr<QFile> file;        // a QTemporaryFile unless kept in cacheFolder
    std::unique_ptr<Sha512Thread> hash; // of the file's bytes so far
    bool reusedCache = false;           // the file was a partial the cache kept
    qint64 offset = 0;                  // bytes kept from an earlier attempt, asked to skip
    bool answerAccepted = false;        // the current reply's status has been looked at
    QByteArray validator;               // the server's ETag or Last-Modified for this file
    std::optional<QString> writeError;
    bool tooLong = false;               // cut off at Limits::bytes
};

// The name the package is placed under: the last path component of the URL first requested
// (a redirect does not change it), percent-decoded. A name that could leave the placement
// directory or is no name at all (empty, ".", "..", or one holding "/", "\" or NUL), and one
// longer than 255 bytes, becomes "update.zip".
[[nodiscard]] QString placementFileName(const QUrl &requested);

// The name a partial file of `url` with `validator` is kept under in the cache, and back; the
// name is empty when it would be too long for a file system.
[[nodiscard]] QString partialFileName(const QUrl &url, const QByteArray &validator);
[[nodiscard]] std::optional<std::pair<QUrl, QByteArray>> partialFileOrigin(const QString &name);

// Bounds what a reply holds between two reads. Unbounded, the network thread queues the body in
// pieces as fast as it decrypts, and memory grows with the package; at 1 MiB the transfer
// reached only 0.6 of curl's throughput.
inline constexpr qint64 packageReadBufferBytes = 64 * 1024;

// A package's bytes as both downloads ask for them: `request` sent through `session`, holding no
// more than packageReadBufferBytes between two reads, and watched for the idle limit and for
// what is left of `deadline` (at least 1 ms). The limits are a child of the reply.
[[nodiscard]] std::pair<QNetworkReply *, TransferLimits *> getPackageBytes(
    QNetworkAccessManager &session, const QNetworkRequest &request, std::chrono::milliseconds idle,
    const QDeadlineTimer &deadline);

// Whether a 206 answer's Content-Range ("bytes FIRST-LAST/LENGTH") starts at `offset`.
[[nodiscard]] bool rangeStartsAt(const QByteArray &contentRange, qint64 offset);

}  // namespace quillmere
