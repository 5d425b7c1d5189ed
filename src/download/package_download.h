#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

QT_BEGIN_NAMESPACE
class QSslSocket;
class QTemporaryFile;
QT_END_NAMESPACE

namespace quillmere {

class HttpResponseParser;
class TransferLimits;

// How a package download ended.
struct DownloadResult {
    // The transfer failed: the network layer's words (or the disk's, when writing failed).
    std::optional<QString> errorDescription;
    // Where the received file was placed; absent when the transfer failed or placement did.
    std::optional<QString> placedFile;
};

// One transfer of a package to disk, one object per attempt: a plain HTTPS GET (redirects to
// https followed, at most 10), on the calling thread, the body written to a private temporary
// file as it is decrypted, so memory stays flat whatever the package's size. Once the transfer
// has ended the file is moved (never copied) into a new directory "quillmere-installer-" +
// UUID under the temporary folder. An answer with an HTTP error status is not a failure here:
// its body is placed like a package. Knows nothing of the window; main thread only.
//
// Not QNetworkAccessManager: its HTTP thread hands the body over in queued pieces, which at
// local-network speeds costs two to three times the CPU of the transfer itself.
class PackageDownload : public QObject {
    Q_OBJECT
public:
    struct Limits {
        std::chrono::milliseconds idle{std::chrono::seconds(60)};    // without any data
        std::chrono::milliseconds total{std::chrono::seconds(1800)}; // for the whole transfer
    };

    // Places the file below `temporaryFolder`.
    explicit PackageDownload(QString temporaryFolder, QObject *parent = nullptr);
    ~PackageDownload() override;

    // Starts the transfer and returns; progress() and one finished() follow later.
    void start(const QUrl &url, Limits limits);

    // Aborts the transfer. Nothing is reported afterwards, not even finished().
    void cancel();

Q_SIGNALS:
    // Bytes received so far of an announced length (at least 1). Not sent when the server
    // announces no length.
    void progress(qint64 written, qint64 total);
    // Sent once per transfer, unless it was cancelled.
    void finished(const quillmere::DownloadResult &result);

private:
    void request(const QUrl &url);
    void receiveSoon();
    void receive();
    void connectionEnded();
    void responseEnded();
    [[nodiscard]] bool isRedirect() const;
    [[nodiscard]] bool write(QByteArrayView bytes);
    void fail(const QString &description);
    void report(const DownloadResult &result);
    void dropConnection();
    [[nodiscard]] std::optional<QString> place();

    QString temporaryFolder_;
    QUrl requested_; // names the placed file
    QUrl current_;   // after redirects
    int redirects_ = 0;
    QSslSocket *socket_ = nullptr;
    std::unique_ptr<HttpResponseParser> parser_;
    QByteArray buffer_;
    TransferLimits *limits_ = nullptr;
    std::unique_ptr<QTemporaryFile> file_;
    std::optional<QString> writeError_;
    bool reported_ = false;
    bool receiveQueued_ = false;
};

// The name the package is placed under: the last path component of the URL first requested
// (a redirect does not change it), percent-decoded. A name that could leave the placement
// directory or is no name at all (empty, ".", "..", or one holding "/", "\" or NUL), and one
// longer than 255 bytes, becomes "update.zip".
[[nodiscard]] QString placementFileName(const QUrl &requested);

}  // namespace quillmere
