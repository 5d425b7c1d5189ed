#pragma once

#include "download/chunk_map.h"
#include "download/package_download.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

QT_BEGIN_NAMESPACE
class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QThread;
QT_END_NAMESPACE

namespace quillmere {

class Sha512Thread;

// One piece of the new package: `length` bytes at `offset`, copied from the base at `baseOffset`,
// or fetched from the server when that is absent.
struct DeltaPiece {
    qint64 offset = 0;
    qint64 length = 0;
    std::optional<qint64> baseOffset;
    friend bool operator==(const DeltaPiece &, const DeltaPiece &) = default;
};

// How to assemble the package `map` describes from a base cut into `baseChunks`: its chunks in
// order, each from the base where the base has a chunk with the same hash and length, else from
// the server; neighbours of one source that follow each other in both files are merged, so each
// fetched piece is one range request.
[[nodiscard]] QList<DeltaPiece> deltaPlan(const ChunkMap &map, const QList<Chunk> &baseChunks);

// An update fetched as the chunks the base lacks. The map `<zip>.chunks` is fetched while the
// base is cut into chunks on a thread of its own; the package is assembled in a new
// "quillmere-installer-" directory (the base's pieces copied on that thread, the missing ones
// fetched with Range requests through QNetworkAccessManager, with the same request policy and
// limits as a whole download) and hashed there. Knows nothing of the window; main thread only.
class DeltaDownload : public QObject {
    Q_OBJECT
public:
    DeltaDownload(QString temporaryFolder, QString basePackage, QObject *parent = nullptr);
    ~DeltaDownload() override;

    void start(const QUrl &url, PackageDownload::Limits limits);
    // Aborts everything. Nothing is reported afterwards.
    void cancel();

Q_SIGNALS:
    // Bytes of the new package assembled so far, of its size.
    void progress(qint64 assembled, qint64 total);
    // Once, unless cancelled: the assembled file (reusedCache set; its digest still to be
    // checked) or the transfer's failure; or nothing, when a delta cannot be made here (no map,
    // a map that is not ours, an unreadable base, a server that ignores ranges): the caller
    // then fetches the whole package.
    void finished(const std::optional<quillmere::DownloadResult> &result);

private:
    void mapFetched(const DownloadResult &result);
    void baseChunked();
    void assemble();
    void fetchNext();
    void receive();
    void rangeFinished();
    void piecesDone();
    void fallBack();
    void fail(const QString &description);
    void dropReply();
    void report(std::optional<DownloadResult> result);

    QString temporaryFolder;
    QString basePackage;
    QUrl url;
    PackageDownload::Limits limits;
    QDeadlineTimer deadline;
    bool running = false;
    PackageDownload *mapDownload = nullptr;
    std::optional<ChunkMap> map;
    bool mapDone = false;
    QThread *worker = nullptr;                 // cuts the base, then copies its pieces
    std::optional<QList<Chunk>> baseChunks;
    bool baseDone = false;
    bool copied = false;                       // the worker's copy succeeded
    QList<DeltaPiece> plan;
    QString output;                            // the assembled file
    std::unique_ptr<QFile> file;               // written by the range requests
    QList<DeltaPiece> ranges;
    qsizetype nextRange = 0;
    qint64 rangeReceived = 0;
    qint64 fromBase = 0;                       // bytes the base gives
    qint64 fetched = 0;                        // bytes fetched so far
    bool rangesDone = false;
    bool answerAccepted = false;
    QNetworkAccessManager *session;
    QNetworkReply *reply = nullptr;
    TransferLimits *watcher = nullptr;
    std::unique_ptr<Sha512Thread> hash;
};

}  // namespace quillmere
