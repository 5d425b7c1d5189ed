#include "download/package_download.h"

#include "system/sha512.h"
#include "system/transfer.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>

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

PackageDownload::PackageDownload(QString temporaryFolder, QObject *parent)
    : QObject(parent),
      temporaryFolder_(std::move(temporaryFolder)),
      session_(new QNetworkAccessManager(this)),
      hash_(std::make_unique<Sha512>())
{
}

PackageDownload::~PackageDownload()
{
    cancel();
}

void PackageDownload::resumeFrom(PackageDownload &earlier)
{
    Q_ASSERT(state_ == State::Ready);
    // Only a failed transfer keeps its file (see replyFinished).
    if (earlier.state_ != State::Finished || !earlier.file_)
        return;
    requested_ = earlier.requested_;
    file_ = std::move(earlier.file_);
    hash_ = std::move(earlier.hash_);
    offset_ = file_->size();
    validator_ = earlier.validator_;
}

void PackageDownload::start(const QUrl &url, Limits limits)
{
    Q_ASSERT(state_ == State::Ready);
    state_ = State::Running;
    limits_ = limits;
    if (file_ && url != requested_)
        startOver();
    requested_ = url;
    if (!file_) {
        // Created with O_EXCL and mode 0600, so nobody else can swap or read it.
        file_ = std::make_unique<QTemporaryFile>(temporaryFolder_ + u"/quillmere-download-XXXXXX"_s);
        if (!file_->open()) {
            // Reported later, like any other outcome: the caller may not have connected yet.
            QTimer::singleShot(0, this, [this, why = file_->errorString()] {
                file_.reset();
                complete(failedWith(why));
            });
            return;
        }
    }
    buffer_.resize(replyBufferBytes);
    // The 1800 s are for the whole attempt, a second request after a refused range included.
    deadline_ = QDeadlineTimer(limits_.total);
    request();
}

void PackageDownload::cancel()
{
    if (state_ == State::Finished || state_ == State::Cancelled)
        return;
    state_ = State::Cancelled;
    dropReply();
}

void PackageDownload::request()
{
    QNetworkRequest request(requested_);
    // Never less safe than the first URL (https), and never more than 10 hops.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(maxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // The bytes as the server keeps them: a range and the digest refer to those.
    request.setRawHeader("Accept-Encoding", "identity");
    if (offset_ > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset_) + '-');
        request.setRawHeader("If-Range", validator_);
    }
    answerAccepted_ = false;
    reply_ = session_->get(request);
    reply_->setReadBufferSize(replyBufferBytes);
    // The idle limit restarts with every piece of data (and redirect, and header).
    watch_ = TransferLimits::watch(reply_, limits_.idle,
                                   std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                deadline_.remainingTimeAsDuration()), 1ms));
    connect(reply_, &QNetworkReply::readyRead, this, &PackageDownload::receive);
    connect(reply_, &QNetworkReply::finished, this, &PackageDownload::replyFinished);
}

bool PackageDownload::acceptAnswer()
{
    answerAccepted_ = true;
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (offset_ > 0 && !(status == 206 && rangeStartsAt(reply_->rawHeader("Content-Range"), offset_))) {
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
    validator_ = validatorOf(*reply_);
    return true;
}

void PackageDownload::receive()
{
    if (!answerAccepted_ && !acceptAnswer())
        return;
    for (qint64 read; !writeError_ && (read = reply_->read(buffer_.data(), buffer_.size())) > 0;) {
        if (file_->write(buffer_.constData(), read) != read) {
            writeError_ = file_->errorString(); // a full disk, say: the transfer cannot go on
            reply_->abort();                    // replyFinished() runs before this returns
            return;
        }
        hash_->addData(QByteArrayView(buffer_.constData(), read));
    }
    const qint64 length = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (length > 0)
        Q_EMIT progress(file_->pos(), offset_ + length);
}

void PackageDownload::replyFinished()
{
    // Without an answer (refused, reset, timed out before the headers) there is nothing to
    // accept or refuse, and the kept bytes stay kept for the next retry.
    const bool answered = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (answered && !answerAccepted_ && !acceptAnswer())
        return; // asked again
    if (answered && !writeError_)
        receive(); // what arrived with the end
    const std::optional<QString> failure =
        writeError_ ? writeError_ : transferFailure(*reply_, watch_);
    dropReply();
    if (failure) {
        // What arrived is kept for a retry, which asks for the rest; without a validator the
        // rest could belong to another file. A file that failed to be written is no use.
        if (writeError_ || validator_.isEmpty() || file_->size() == 0 || !file_->flush())
            file_.reset();
        complete(failedWith(*failure));
        return;
    }
    if (!file_->flush()) {
        complete(failedWith(file_->errorString()));
        return;
    }
    const QByteArray digest = hash_->result();
    const qint64 size = file_->size();
    std::optional<QString> placed = place();
    complete({std::nullopt, std::move(placed), digest, size});
}

void PackageDownload::complete(DownloadResult result)
{
    // One completion per transfer: a second would start a second staging.
    Q_ASSERT(state_ == State::Running);
    state_ = State::Finished;
    Q_EMIT finished(result);
}

void PackageDownload::dropReply()
{
    if (!reply_)
        return;
    // abort() sends finished() before it returns; nothing the reply says from here on
    // matters. It goes once control is back in the event loop, since this may run inside one
    // of its own signals.
    reply_->disconnect(this);
    reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
    watch_ = nullptr; // a child of the reply
}

void PackageDownload::startOver()
{
    file_->resize(0);
    file_->seek(0);
    hash_ = std::make_unique<Sha512>();
    offset_ = 0;
}

std::optional<QString> PackageDownload::place()
{
    // Errors here are not reported as such: the missing file tells the caller enough.
    file_->close();
    const QString directoryName =
        u"quillmere-installer-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QDir folder(temporaryFolder_);
    // Private to the user: the package is later copied with administrator rights.
    if (!folder.mkdir(directoryName, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return std::nullopt;
    const QString destination =
        folder.filePath(directoryName) + u'/' + placementFileName(requested_);
    if (!file_->rename(destination))
        return std::nullopt;
    file_->setAutoRemove(false);
    file_.reset();
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
