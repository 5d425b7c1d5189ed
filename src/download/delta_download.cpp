#include "download/delta_download.h"

#include "system/private_directory.h"
#include "system/sha512_thread.h"
#include "system/transfer.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

#include <tuple>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// Copies the pieces the base gives into the assembled file, both read and written in bounded
// blocks. On the worker thread.
bool copyFromBase(const QString &basePath, const QString &outputPath, const QList<DeltaPiece> &plan)
{
    QFile base(basePath), output(outputPath);
    if (!base.open(QIODevice::ReadOnly) || !output.open(QIODevice::ReadWrite))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (const DeltaPiece &piece : plan) {
        if (!piece.baseOffset)
            continue;
        if (!base.seek(*piece.baseOffset) || !output.seek(piece.offset))
            return false;
        for (qint64 left = piece.length; left > 0;) {
            const qint64 read = base.read(block.data(), std::min<qint64>(left, block.size()));
            if (read <= 0 || output.write(block.constData(), read) != read)
                return false;
            left -= read;
        }
    }
    return output.flush();
}

}  // namespace

QList<DeltaPiece> deltaPlan(const ChunkMap &map, const QList<Chunk> &baseChunks)
{
    QHash<QByteArray, const Chunk *> inBase;
    for (const Chunk &chunk : baseChunks)
        inBase.insert(chunk.hash, &chunk);
    QList<DeltaPiece> plan;
    for (const Chunk &chunk : map.chunks) {
        const Chunk *same = inBase.value(chunk.hash);
        std::optional<qint64> from;
        if (same && same->length == chunk.length)
            from = same->offset;
        if (!plan.isEmpty()) {
            DeltaPiece &last = plan.last();
            const bool follows = from ? last.baseOffset && *last.baseOffset + last.length == *from : !last.baseOffset;
            if (follows) {
                last.length += chunk.length;
                continue;
            }
        }
        plan.append({chunk.offset, chunk.length, from});
    }
    return plan;
}

DeltaDownload::DeltaDownload(QString folder, QString base, QObject *parent)
    : QObject(parent),
      temporaryFolder(std::move(folder)),
      basePackage(std::move(base)),
      session(new QNetworkAccessManager(this))
{
}

DeltaDownload::~DeltaDownload()
{
    cancel();
    if (worker) {
        worker->wait();
        delete worker;
    }
}

void DeltaDownload::start(const QUrl &packageURL, PackageDownload::Limits given)
{
    running = true;
    url = packageURL;
    limits = given;
    deadline = QDeadlineTimer(limits.total);
    // The map, through the same transfer as a package: the same certificate checks and limits.
    QUrl mapURL = url;
    mapURL.setPath(url.path(QUrl::FullyEncoded) + u".chunks"_s, QUrl::TolerantMode);
    mapDownload = new PackageDownload(temporaryFolder, this);
    connect(mapDownload, &PackageDownload::finished, this, &DeltaDownload::mapFetched);
    PackageDownload::Limits mapLimits = limits;
    mapLimits.bytes = chunkMapMaximumBytes;  // no map of ours is longer
    mapDownload->start(mapURL, mapLimits);
    // Meanwhile the base is cut as the publisher cut the package.
    worker = QThread::create([this] { baseChunks = chunkFile(basePackage, chunkParameters); });
    connect(worker, &QThread::finished, this, &DeltaDownload::baseChunked);
    worker->start();
}

void DeltaDownload::cancel()
{
    if (!running)
        return;
    running = false;
    if (mapDownload)
        mapDownload->cancel();
    dropReply();
}

void DeltaDownload::mapFetched(const DownloadResult &result)
{
    if (!running)
        return;
    if (result.errorDescription) {
        fail(*result.errorDescription);
        return;
    }
    // An error page (a 404, say) is no map either; a map is read only up to its bound.
    if (result.placedFile) {
        QFile placed(*result.placedFile);
        if (placed.open(QIODevice::ReadOnly) && placed.size() <= chunkMapMaximumBytes)
            map = readChunkMap(placed.readAll());
        placed.remove();
        QDir().rmdir(QFileInfo(*result.placedFile).path());
    }
    mapDone = true;
    if (!map) {
        fallBack();
        return;
    }
    if (baseDone)
        assemble();
}

void DeltaDownload::baseChunked()
{
    worker->deleteLater();
    worker = nullptr;
    baseDone = true;
    if (!running)
        return;
    if (!baseChunks) {
        fallBack();
        return;
    }
    if (mapDone)
        assemble();
}

void DeltaDownload::assemble()
{
    plan = deltaPlan(*map, *baseChunks);
    const PrivateDirectory directory = createPrivateDirectory(temporaryFolder, u"quillmere-installer-"_s);
    output = directory.path + u'/' + placementFileName(url);
    file = std::make_unique<QFile>(output);
    if (directory.path.isEmpty()
        || !file->open(QIODevice::ReadWrite | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner)
        || !file->resize(map->size)) {
        fallBack();
        return;
    }
    for (const DeltaPiece &piece : std::as_const(plan))
        piece.baseOffset ? void(fromBase += piece.length) : ranges.append(piece);
    Q_EMIT progress(0, map->size);
    // The base's pieces are copied on the worker thread while the others are fetched here.
    worker = QThread::create([this] { copied = copyFromBase(basePackage, output, plan); });
    connect(worker, &QThread::finished, this, [this] {
        worker->deleteLater();
        worker = nullptr;
        if (!running)
            return;
        if (!copied) {
            fallBack();
            return;
        }
        Q_EMIT progress(fromBase + fetched, map->size);
        piecesDone();
    });
    worker->start();
    fetchNext();
}

void DeltaDownload::fetchNext()
{
    if (nextRange == ranges.size()) {
        rangesDone = true;
        piecesDone();
        return;
    }
    const DeltaPiece &piece = ranges.at(nextRange);
    QNetworkRequest request = transferRequest(url, BodyEncoding::Identity);
    request.setRawHeader("Range", "bytes=" + QByteArray::number(piece.offset) + '-'
                                      + QByteArray::number(piece.offset + piece.length - 1));
    rangeReceived = 0;
    answerAccepted = false;
    std::tie(reply, watcher) = getPackageBytes(*session, request, limits.idle, deadline);
    connect(reply, &QNetworkReply::readyRead, this, &DeltaDownload::receive);
    connect(reply, &QNetworkReply::finished, this, &DeltaDownload::rangeFinished);
}

void DeltaDownload::receive()
{
    const DeltaPiece &piece = ranges.at(nextRange);
    if (!answerAccepted) {
        // Anything but the bytes asked for (a whole file for a 200) is no use here.
        if (httpStatus(*reply) != 206 || !rangeStartsAt(reply->rawHeader("Content-Range"), piece.offset)) {
            fallBack();
            return;
        }
        answerAccepted = true;
    }
    const QByteArray bytes = reply->read(std::min(reply->bytesAvailable(), piece.length - rangeReceived));
    if (!file->seek(piece.offset + rangeReceived) || file->write(bytes) != bytes.size()) {
        fallBack();
        return;
    }
    rangeReceived += bytes.size();
    fetched += bytes.size();
    Q_EMIT progress(fetched + (worker ? 0 : fromBase), map->size);
}

void DeltaDownload::rangeFinished()
{
    if (httpStatus(*reply)) {
        receive();
        if (!running || !reply)
            return;
    }
    if (const std::optional<QString> failure = transferFailure(*reply, watcher)) {
        fail(*failure);
        return;
    }
    dropReply();
    if (rangeReceived != ranges.at(nextRange).length) {
        fallBack();
        return;
    }
    ++nextRange;
    fetchNext();
}

void DeltaDownload::piecesDone()
{
    if (!rangesDone || worker || !running)
        return;
    if (!file->flush()) {
        fallBack();
        return;
    }
    file.reset();
    // Hashed on its own thread, as a whole download is.
    hash = std::make_unique<Sha512Thread>();
    hash->addFile(output, map->size);
    hash->result(this, [this](const QByteArray &digest) {
        if (!running)
            return;
        DownloadResult assembled;
        assembled.placedFile = output;
        assembled.sha512 = digest;
        assembled.size = map->size;
        assembled.reusedCache = true;
        report(assembled);
    });
}

void DeltaDownload::fallBack()
{
    dropReply();
    if (!output.isEmpty()) {
        file.reset();
        QFile::remove(output);
        QDir().rmdir(QFileInfo(output).path());
    }
    report(std::nullopt);
}

void DeltaDownload::fail(const QString &description)
{
    dropReply();
    DownloadResult result;
    result.errorDescription = description;
    report(result);
}

void DeltaDownload::report(std::optional<DownloadResult> result)
{
    if (!running)
        return;
    running = false;
    Q_EMIT finished(result);
}

void DeltaDownload::dropReply()
{
    abandonReply(reply, this);
    watcher = nullptr; // a child of the reply
}

}  // namespace quillmere
