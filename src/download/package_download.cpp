#include "download/package_download.h"

#include "system/private_directory.h"
#include "system/sha512.h"
#include "system/transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>

#include <limits>

namespace quillmere {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Bounds what the reply holds between two reads. Unbounded, the network thread queues the
// body in pieces as fast as it decrypts, and memory grows with the package; at 1 MiB the
// transfer reached only 0.6 of curl's throughput. Each read takes all there is.
constexpr qint64 replyBufferBytes = 64 * 1024;
constexpr int maxRedirects = 10;

// A validator that If-Range may carry: a strong ETag, else the Last-Modified date. A weak
// ETag ("W/...") never matches in If-Range, so it is no use.
QByteArray validatorOf(const QNetworkReply &reply)
{
    const QByteArray etag = reply.rawHeader("ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return reply.rawHeader("Last-Modified").trimmed();
}

DownloadResult failedWith(const QString &description)
{
    DownloadResult result;
    result.errorDescription = description;
    return result;
}

}  // namespace

PackageDownload::PackageDownload(QString folder, QObject *parent)
    : QObject(parent),
      temporaryFolder(std::move(folder)),
      session(new QNetworkAccessManager(this)),
      hash(std::make_unique<Sha512>())
{
}

PackageDownload::~PackageDownload()
{
    cancel();
}

void PackageDownload::resumeFrom(PackageDownload &earlier)
{
    Q_ASSERT(state == State::Ready);
    // Only a failed transfer keeps its file (see replyFinished).
    if (earlier.state != State::Finished || !earlier.file)
        return;
    requested = earlier.requested;
    file = std::move(earlier.file);
    hash = std::move(earlier.hash);
    offset = file->size();
    validator = earlier.validator;
}

void PackageDownload::start(const QUrl &url, Limits given)
{
    Q_ASSERT(state == State::Ready);
    state = State::Running;
    limits = given;
    if (file && url != requested)
        startOver();
    requested = url;
    if (!file) {
        // Created with O_EXCL and mode 0600, so nobody else can swap or read it.
        file = std::make_unique<QTemporaryFile>(temporaryFolder + u"/quillmere-download-XXXXXX"_s);
        if (!file->open()) {
            // Reported later, like any other outcome: the caller may not have connected yet.
            QTimer::singleShot(0, this, [this, why = file->errorString()] {
                file.reset();
                complete(failedWith(why));
            });
            return;
        }
    }
    buffer.resize(replyBufferBytes);
    // The total limit is for the whole attempt, a second request after a refused range included.
    deadline = QDeadlineTimer(limits.total);
    request();
}

void PackageDownload::cancel()
{
    if (state == State::Finished || state == State::Cancelled)
        return;
    state = State::Cancelled;
    dropReply();
}

void PackageDownload::request()
{
    QNetworkRequest request(requested);
    // Never less safe than the first URL (https), and never more than 10 hops.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(maxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // The bytes as the server keeps them: a range and the digest refer to those.
    request.setRawHeader("Accept-Encoding", "identity");
    if (offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');
        request.setRawHeader("If-Range", validator);
    }
    answerAccepted = false;
    reply = session->get(request);
    reply->setReadBufferSize(replyBufferBytes);
    // The idle limit restarts with every piece of data (and redirect, and header).
    watcher = TransferLimits::watch(reply, limits.idle,
                                   std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                deadline.remainingTimeAsDuration()), 1ms));
    connect(reply, &QNetworkReply::readyRead, this, &PackageDownload::receive);
    connect(reply, &QNetworkReply::finished, this, &PackageDownload::replyFinished);
}

bool PackageDownload::acceptAnswer()
{
    answerAccepted = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (offset > 0 && !(status == 206 && rangeStartsAt(reply->rawHeader("Content-Range"), offset))) {
        // The server sends the whole file (it changed, or it ignores ranges), or something
        // else than the rest: the kept bytes are of no use.
        startOver();
        if (status != 200) {
            // Ask again, for the whole file this time.
            dropReply();
            request();
            return false;
        }
    }
    validator = validatorOf(*reply);
    return true;
}

void PackageDownload::receive()
{
    if (!answerAccepted && !acceptAnswer())
        return;
    for (qint64 read; !writeError && !tooLong && (read = reply->read(buffer.data(), buffer.size())) > 0;) {
        if (limits.bytes && file->pos() + read > *limits.bytes) {
            tooLong = true;  // no more is written than may be
            reply->abort();  // replyFinished() runs before this returns
            return;
        }
        if (file->write(buffer.constData(), read) != read) {
            writeError = file->errorString(); // a full disk, say: the transfer cannot go on
            reply->abort();                    // replyFinished() runs before this returns
            return;
        }
        hash->addData(QByteArrayView(buffer.constData(), read));
    }
    // The server chose the length: with what was kept it may not even be a number.
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (length > 0 && length <= std::numeric_limits<qint64>::max() - offset)
        Q_EMIT progress(file->pos(), offset + length);
}

void PackageDownload::replyFinished()
{
    // Without an answer (refused, reset, timed out before the headers) there is nothing to
    // accept or refuse, and the kept bytes stay kept for the next retry.
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (answered && !answerAccepted && !acceptAnswer())
        return; // asked again
    if (answered && !writeError && !tooLong)
        receive(); // what arrived with the end
    if (tooLong) {
        dropReply();
        file.reset();
        DownloadResult result;
        result.tooLong = true;
        complete(result);
        return;
    }
    const std::optional<QString> failure =
        writeError ? writeError : transferFailure(*reply, watcher);
    dropReply();
    if (failure) {
        // What arrived is kept for a retry, which asks for the rest; without a validator the
        // rest could belong to another file. A file that failed to be written is no use.
        if (writeError || validator.isEmpty() || file->size() == 0 || !file->flush())
            file.reset();
        complete(failedWith(*failure));
        return;
    }
    if (!file->flush()) {
        complete(failedWith(file->errorString()));
        return;
    }
    const QByteArray digest = hash->result();
    const qint64 size = file->size();
    std::optional<QString> placed = place();
    complete({std::nullopt, std::move(placed), digest, size});
}

void PackageDownload::complete(DownloadResult result)
{
    // One completion per transfer: a second would start a second staging.
    Q_ASSERT(state == State::Running);
    state = State::Finished;
    Q_EMIT finished(result);
}

void PackageDownload::dropReply()
{
    if (!reply)
        return;
    // abort() sends finished() before it returns; nothing the reply says from here on
    // matters. It goes once control is back in the event loop, since this may run inside one
    // of its own signals.
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    reply = nullptr;
    watcher = nullptr; // a child of the reply
}

void PackageDownload::startOver()
{
    file->resize(0);
    file->seek(0);
    hash = std::make_unique<Sha512>();
    offset = 0;
}

std::optional<QString> PackageDownload::place()
{
    // Errors here are not reported as such: the missing file tells the caller enough. A file
    // that could not be placed is complete, not a part to resume from: it goes, and the
    // retry starts over.
    file->close();
    const PrivateDirectory directory =
        createPrivateDirectory(temporaryFolder, u"quillmere-installer-"_s);
    const QString destination = directory.path + u'/' + placementFileName(requested);
    if (directory.path.isEmpty() || !file->rename(destination)) {
        file.reset();
        return std::nullopt;
    }
    file->setAutoRemove(false);
    file.reset();
    return destination;
}

QString placementFileName(const QUrl &requested)
{
    // Split before decoding, so an encoded "/" stays inside the name, where it is refused.
    const QString path = requested.path(QUrl::FullyEncoded);
    const QString name = QUrl::fromPercentEncoding(path.mid(path.lastIndexOf(u'/') + 1).toUtf8());
    // A name longer than a file system can hold (255 bytes) would fail the placement.
    if (name.isEmpty() || name == u"."_s || name == u".."_s || name.contains(u'/')
        || name.contains(u'\\') || name.contains(QChar(0)) || QFile::encodeName(name).size() > 255)
        return u"update.zip"_s;
    return name;
}

bool rangeStartsAt(const QByteArray &contentRange, qint64 offset)
{
    const QByteArray value = contentRange.trimmed();
    if (!value.toLower().startsWith("bytes "))
        return false;
    const qsizetype dash = value.indexOf('-');
    bool ok = false;
    const qint64 first = dash < 0 ? -1 : value.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok && first == offset;
}

}  // namespace quillmere
