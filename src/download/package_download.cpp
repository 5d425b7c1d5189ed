#include "download/package_download.h"

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

namespace {

// Qt keeps a whole reply in memory unless its buffer is bounded; a bounded reply has to be
// read on every readyRead or it never finishes.
constexpr qint64 readBufferBytes = 1 << 20;

}  // namespace

PackageDownload::PackageDownload(QNetworkAccessManager *session, QString temporaryFolder,
                                 QObject *parent)
    : QObject(parent), session_(session), temporaryFolder_(std::move(temporaryFolder))
{
}

PackageDownload::~PackageDownload()
{
    cancel();
}

void PackageDownload::start(const QUrl &url, Limits limits)
{
    Q_ASSERT(!reply_ && !reported_);
    requested_ = url;
    // The file is created with O_EXCL and mode 0600, so nobody else can swap or read it.
    file_ = std::make_unique<QTemporaryFile>(temporaryFolder_ + u"/quillmere-download-XXXXXX"_s);
    if (!file_->open()) {
        const QString why = file_->errorString();
        // Reported later, like any other outcome: the caller has not connected yet.
        QTimer::singleShot(0, this, [this, why] {
            reported_ = true;
            Q_EMIT finished({why, std::nullopt});
        });
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy); // never https to http
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    reply_ = session_->get(request);
    reply_->setReadBufferSize(readBufferBytes);
    limits_ = TransferLimits::watch(reply_, limits.idle, limits.total);
    connect(reply_, &QNetworkReply::readyRead, this, &PackageDownload::receive);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 written, qint64 total) {
        if (total >= 1)
            Q_EMIT progress(written, total);
    });
    connect(reply_, &QNetworkReply::finished, this, &PackageDownload::complete);
}

void PackageDownload::cancel()
{
    cancelled_ = true;
    // abort() emits finished() before it returns; complete() sees cancelled_ and stays quiet.
    if (reply_ && !reply_->isFinished())
        reply_->abort();
}

void PackageDownload::receive()
{
    const QByteArray chunk = reply_->readAll();
    if (writeError_ || chunk.isEmpty())
        return;
    if (file_->write(chunk) != chunk.size()) {
        writeError_ = file_->errorString(); // a full disk, say: the transfer cannot go on
        reply_->abort();
    }
}

void PackageDownload::complete()
{
    if (cancelled_ || reported_)
        return;
    reported_ = true;
    receive(); // whatever arrived with the end
    reply_->deleteLater();

    std::optional<QString> failure = writeError_ ? writeError_ : transferFailure(*reply_, limits_);
    if (!failure && !file_->flush())
        failure = file_->errorString();
    if (failure) {
        Q_EMIT finished({failure, std::nullopt});
        return;
    }
    Q_EMIT finished({std::nullopt, place()});
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
    return destination;
}

QString placementFileName(const QUrl &requested)
{
    // Split before decoding, so an encoded "/" stays inside the name, where it is refused.
    const QString path = requested.path(QUrl::FullyEncoded);
    const QString name = QUrl::fromPercentEncoding(path.mid(path.lastIndexOf(u'/') + 1).toUtf8());
    if (name.isEmpty() || name == u"."_s || name == u".."_s || name.contains(u'/')
        || name.contains(u'\\') || name.contains(QChar(0)))
        return u"update.zip"_s;
    return name;
}

}  // namespace quillmere
