#include "download/package_download.h"

#include "system/private_directory.h"
#include "system/sha512_thread.h"
#include "system/transfer.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTimer>

#include <limits>
#include <tuple>

namespace quillmere {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Bytes received and not yet hashed, at most: beyond this the reply is not read until the
// hashing thread has caught up to half of it, so a slow hash slows the transfer instead of
// filling memory.
constexpr qint64 hashBacklogBytes = 8 * 1024 * 1024;
const QString partialPrefix = u"partial-"_s;

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
      hash(std::make_unique<Sha512Thread>())
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
    earlier.hash->whenPendingAtMost(0, nullptr, {}); // nothing more for `earlier`
    file = std::move(earlier.file);
    hash = std::move(earlier.hash);
    offset = file->size();
    validator = earlier.validator;
    reusedCache = earlier.reusedCache;
    cacheFolder = earlier.cacheFolder;
}

void PackageDownload::keepPartialIn(const QString &folder)
{
    Q_ASSERT(state == State::Ready);
    // Private: what it holds is installed with administrator rights once it has been checked.
    if (!QDir().mkpath(folder)
        || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return;
    cacheFolder = folder;
}

void PackageDownload::adoptPartial()
{
    // At most one partial file: the one of this URL is continued, any other goes (as does one
    // left without a validator by a run that ended before the headers came).
    const QDir folder(cacheFolder);
    for (const QString &name : folder.entryList({partialPrefix + u'*'}, QDir::Files | QDir::Hidden)) {
        const auto origin = partialFileOrigin(name);
        if (!file && origin && origin->first == requested) {
            auto kept = std::make_unique<QFile>(folder.filePath(name));
            if (kept->open(QIODevice::ReadWrite | QIODevice::Append) && kept->size() > 0) {
                file = std::move(kept);
                offset = file->size();
                validator = origin->second;
                reusedCache = true;
                // Hashed on the hashing thread while the request goes out.
                hash->addFile(file->fileName(), offset);
                continue;
            }
        }
        QFile::remove(folder.filePath(name));
    }
    if (file)
        return;
    // O_EXCL and mode 0600 in a private folder: nobody else can swap or read it.
    for (int attempt = 0; attempt < 3 && !file; ++attempt) {
        auto fresh = std::make_unique<QFile>(
            folder.filePath(partialPrefix + QString::number(QRandomGenerator::global()->generate64(), 36)));
        if (fresh->open(QIODevice::ReadWrite | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
            file = std::move(fresh);
    }
}

void PackageDownload::nameAfterValidator()
{
    // A later run knows the file by its name; a file without a validator cannot be continued.
    if (cacheFolder.isEmpty() || validator.isEmpty())
        return;
    const QString name = partialFileName(requested, validator);
    const QString path = QDir(cacheFolder).filePath(name);
    if (name.isEmpty() || file->fileName() == path || !file->flush())
        return;
    QFile::remove(path);
    // rename() closes the file; it is opened again at its end.
    if (file->rename(path))
        (void)file->open(QIODevice::ReadWrite | QIODevice::Append);
}

void PackageDownload::discardFile()
{
    if (file && !qobject_cast<QTemporaryFile *>(file.get()))
        file->remove();
    file.reset();
}

void PackageDownload::start(const QUrl &url, Limits given)
{
    Q_ASSERT(state == State::Ready);
    state = State::Running;
    limits = given;
    if (file && url != requested)
        startOver();
    requested = url;
    if (!file && !cacheFolder.isEmpty())
        adoptPartial();
    if (!file) {
        // Created with O_EXCL and mode 0600, so nobody else can swap or read it.
        auto temporary = std::make_unique<QTemporaryFile>(temporaryFolder + u"/quillmere-download-XXXXXX"_s);
        const bool opened = temporary->open();
        file = std::move(temporary);
        if (!opened) {
            // Reported later, like any other outcome: the caller may not have connected yet.
            QTimer::singleShot(0, this, [this, why = file->errorString()] {
                discardFile();
                complete(failedWith(why));
            });
            return;
        }
    }
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
    // What arrived stays for the next attempt when it can be continued.
    if (file && (validator.isEmpty() || file->size() == 0 || !file->flush()))
        discardFile();
}

void PackageDownload::request()
{
    QNetworkRequest request = transferRequest(requested, BodyEncoding::Identity);
    if (offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');
        request.setRawHeader("If-Range", validator);
    }
    answerAccepted = false;
    // The idle limit restarts with every piece of data (and redirect, and header).
    std::tie(reply, watcher) = getPackageBytes(*session, request, limits.idle, deadline);
    connect(reply, &QNetworkReply::readyRead, this, [this] { receive(); });
    connect(reply, &QNetworkReply::finished, this, &PackageDownload::replyFinished);
}

bool PackageDownload::acceptAnswer()
{
    answerAccepted = true;
    const int status = httpStatus(*reply).value_or(0);
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
    nameAfterValidator();
    return true;
}

void PackageDownload::receive(bool all)
{
    if (!reply || (!answerAccepted && !acceptAnswer()))
        return;
    while (!writeError && !tooLong && reply->bytesAvailable() > 0) {
        if (!all && hash->pending() > hashBacklogBytes) {
            // Read on once the hashing has caught up; the reply's buffer holds the network back.
            hash->whenPendingAtMost(hashBacklogBytes / 2, this, [this] { receive(); });
            break;
        }
        // A piece of its own each time, as the hashing thread holds on to it until it is hashed.
        QByteArray piece = hash->spare();
        piece.resize(packageReadBufferBytes);
        piece.resize(std::max<qint64>(reply->read(piece.data(), piece.size()), 0));
        if (limits.bytes && file->pos() + piece.size() > *limits.bytes) {
            tooLong = true;  // no more is written than may be
            reply->abort();  // replyFinished() runs before this returns
            return;
        }
        if (file->write(piece) != piece.size()) {
            writeError = file->errorString(); // a full disk, say: the transfer cannot go on
            reply->abort();                    // replyFinished() runs before this returns
            return;
        }
        hash->addData(piece);
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
    const bool answered = httpStatus(*reply).has_value();
    if (answered && !answerAccepted && !acceptAnswer())
        return; // asked again
    if (answered && !writeError && !tooLong)
        receive(true); // what arrived with the end, and what waited for the hashing
    if (tooLong) {
        // Longer than the manifest says it is: nothing of it is worth continuing.
        dropReply();
        discardFile();
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
            discardFile();
        complete(failedWith(*failure));
        return;
    }
    if (!file->flush()) {
        complete(failedWith(file->errorString()));
        return;
    }
    // The digest comes once the hashing thread has caught up, which may take a moment after a
    // fast transfer; the transfer is still running until then, and may still be cancelled.
    hash->result(this, [this](const QByteArray &digest) {
        if (state != State::Running)
            return;
        const qint64 size = file->size();
        // A kept part that could not be read again has no digest: it matches nothing.
        std::optional<QString> placed = place();
        complete({std::nullopt, std::move(placed), digest, size, reusedCache, false});
    });
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
    abandonReply(reply, this);
    watcher = nullptr; // a child of the reply
}

void PackageDownload::startOver()
{
    file->resize(0);
    file->seek(0);
    hash = std::make_unique<Sha512Thread>();
    offset = 0;
    reusedCache = false;
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
    // A kept file may be on another file system than the temporary folder: QFile then copies.
    if (directory.path.isEmpty() || !file->rename(destination)) {
        discardFile();
        return std::nullopt;
    }
    if (auto *temporary = qobject_cast<QTemporaryFile *>(file.get()))
        temporary->setAutoRemove(false);
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

QString partialFileName(const QUrl &url, const QByteArray &validator)
{
    constexpr auto encoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
    const QString name = partialPrefix + QString::fromLatin1(url.toEncoded().toBase64(encoding)) + u'.'
        + QString::fromLatin1(validator.toBase64(encoding));
    return name.size() > 255 ? QString() : name;
}

std::optional<std::pair<QUrl, QByteArray>> partialFileOrigin(const QString &name)
{
    const QStringList parts = name.mid(partialPrefix.size()).split(u'.');
    if (!name.startsWith(partialPrefix) || parts.size() != 2)
        return std::nullopt;
    const auto decoded = [](const QString &part) {
        return QByteArray::fromBase64Encoding(part.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    };
    const auto url = decoded(parts[0]), validator = decoded(parts[1]);
    if (!url || !validator || validator.decoded.isEmpty())
        return std::nullopt;
    return std::pair{QUrl::fromEncoded(url.decoded, QUrl::StrictMode), validator.decoded};
}

std::pair<QNetworkReply *, TransferLimits *> getPackageBytes(
    QNetworkAccessManager &session, const QNetworkRequest &request, std::chrono::milliseconds idle,
    const QDeadlineTimer &deadline)
{
    QNetworkReply *reply = session.get(request);
    reply->setReadBufferSize(packageReadBufferBytes);
    return {reply, TransferLimits::watch(reply, idle,
                                         std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      deadline.remainingTimeAsDuration()),
                                                  1ms))};
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
