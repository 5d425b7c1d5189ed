#include "download/package_download.h"

#include "download/http_response.h"
#include "system/transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QSslSocket>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// Bounds what the socket holds between two reads (each read takes all there is). Qt reads what
// the system has received, up to this bound, into a block allocated for that read, and its TLS
// layer copies it into another of the same size. Blocks above the C library's threshold for
// mapped memory (128 KiB with glibc) are mapped and unmapped read after read, every page of them
// faulted in afresh: with a bound of 8 MiB a 64 MiB download took 7,000 to 25,000 page faults,
// with this one about 100. Far smaller (16 KiB), the wake-ups per byte cost more CPU instead.
constexpr qint64 socketBufferBytes = 64 * 1024;
constexpr qsizetype readBytes = 256 * 1024;
constexpr int maxRedirects = 10;

// Qt's own words for these, in the user's language where Qt has a translation.
QString connectionClosedDescription()
{
    return QCoreApplication::translate("QHttp", "Connection closed");
}
QString corruptDescription()
{
    return QCoreApplication::translate("QHttp", "Data corrupted");
}

QByteArray requestHead(const QUrl &url)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != 443)
        host += ':' + QByteArray::number(url.port());
    return "GET " + target + " HTTP/1.1\r\nHost: " + host
        + "\r\nUser-Agent: Quillmere-Installer\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
          "Connection: close\r\n\r\n";
}

}  // namespace

PackageDownload::PackageDownload(QString temporaryFolder, QObject *parent)
    : QObject(parent), temporaryFolder_(std::move(temporaryFolder))
{
}

PackageDownload::~PackageDownload()
{
    cancel();
}

void PackageDownload::start(const QUrl &url, Limits limits)
{
    Q_ASSERT(!socket_ && !reported_);
    requested_ = url;
    limits_ = new TransferLimits(limits.idle, limits.total, this);
    connect(limits_, &TransferLimits::expired, this, [this] { fail(timeoutDescription()); });
    // Created with O_EXCL and mode 0600, so nobody else can swap or read it.
    file_ = std::make_unique<QTemporaryFile>(temporaryFolder_ + u"/quillmere-download-XXXXXX"_s);
    if (!file_->open()) {
        // Reported later, like any other outcome: the caller may not have connected yet.
        QTimer::singleShot(0, this, [this, why = file_->errorString()] { fail(why); });
        return;
    }
    buffer_.resize(readBytes);
    request(url);
}

void PackageDownload::cancel()
{
    reported_ = true; // nothing more is said
    dropConnection();
    if (limits_)
        limits_->stop();
}

void PackageDownload::request(const QUrl &url)
{
    dropConnection();
    current_ = url;
    parser_ = std::make_unique<HttpResponseParser>(
        [this](QByteArrayView bytes) { return isRedirect() || write(bytes); });
    socket_ = new QSslSocket(this);
    socket_->setReadBufferSize(socketBufferBytes);
    // Certificate errors are never ignored: the handshake fails and errorOccurred() says why.
    connect(socket_, &QSslSocket::encrypted, this, [this] {
        limits_->stillAlive();
        socket_->write(requestHead(current_));
    });
    connect(socket_, &QSslSocket::readyRead, this, &PackageDownload::receiveSoon);
    connect(socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The server closing (or resetting) the connection may be the body's end.
        if (error == QAbstractSocket::RemoteHostClosedError)
            connectionEnded();
        else
            fail(socket_->errorString());
    });
    connect(socket_, &QSslSocket::disconnected, this, &PackageDownload::connectionEnded);
    socket_->connectToHostEncrypted(url.host(), quint16(url.port(443)));
}

void PackageDownload::receiveSoon()
{
    // The TLS layer announces every 4 KiB it decrypts, several times in one turn of the event
    // loop; one read at the end of the turn takes them together.
    if (receiveQueued_)
        return;
    receiveQueued_ = true;
    QMetaObject::invokeMethod(this, [this] {
        receiveQueued_ = false;
        receive();
    }, Qt::QueuedConnection);
}

void PackageDownload::receive()
{
    if (reported_ || !socket_)
        return;
    limits_->stillAlive();
    qint64 read;
    while (parser_->state() != HttpResponseParser::State::Done
           && parser_->state() != HttpResponseParser::State::Failed
           && (read = socket_->read(buffer_.data(), buffer_.size())) > 0)
        parser_->feed(QByteArrayView(buffer_.constData(), read));

    switch (parser_->state()) {
    case HttpResponseParser::State::Failed:
        fail(writeError_ ? *writeError_ : corruptDescription());
        return;
    case HttpResponseParser::State::Done:
        responseEnded();
        return;
    case HttpResponseParser::State::Body:
        if (const std::optional<qint64> total = parser_->contentLength();
            total && *total >= 1 && !isRedirect())
            Q_EMIT progress(parser_->bodyBytes(), *total);
        return;
    case HttpResponseParser::State::Head:
        return;
    }
}

void PackageDownload::connectionEnded()
{
    if (reported_ || !socket_)
        return;
    // What was decrypted before the end; it may end the response, and a redirect then starts
    // another request, which this end is not the end of.
    const int redirects = redirects_;
    receive();
    if (reported_ || redirects_ != redirects)
        return;
    parser_->finish();
    if (parser_->state() == HttpResponseParser::State::Done)
        responseEnded();
    else
        fail(parser_->failure() == HttpResponseParser::Failure::Malformed ? corruptDescription()
                                                                          : connectionClosedDescription());
}

void PackageDownload::responseEnded()
{
    if (isRedirect()) {
        const QUrl target = current_.resolved(
            QUrl::fromEncoded(*parser_->header("Location"), QUrl::StrictMode));
        if (++redirects_ > maxRedirects) {
            fail(QCoreApplication::translate("QHttp", "Too many redirects"));
        } else if (!target.isValid() || target.scheme() != u"https"_s || target.host().isEmpty()) {
            fail(QCoreApplication::translate("QHttp", "Insecure redirect"));
        } else {
            limits_->stillAlive();
            request(target);
        }
        return;
    }
    if (const std::optional<qint64> total = parser_->contentLength(); total && *total >= 1)
        Q_EMIT progress(parser_->bodyBytes(), *total);
    dropConnection();
    limits_->stop();
    if (!file_->flush()) {
        fail(file_->errorString());
        return;
    }
    report({std::nullopt, place()});
}

bool PackageDownload::isRedirect() const
{
    const int status = parser_->status();
    return (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
        && parser_->header("Location");
}

bool PackageDownload::write(QByteArrayView bytes)
{
    if (file_->write(bytes.data(), bytes.size()) == bytes.size())
        return true;
    writeError_ = file_->errorString(); // a full disk, say: the transfer cannot go on
    return false;
}

void PackageDownload::fail(const QString &description)
{
    if (reported_)
        return;
    dropConnection();
    limits_->stop();
    report({description, std::nullopt});
}

void PackageDownload::report(const DownloadResult &result)
{
    if (reported_)
        return;
    reported_ = true;
    Q_EMIT finished(result);
}

void PackageDownload::dropConnection()
{
    if (!socket_)
        return;
    // Nothing the socket says from here on matters; it goes once control is back in the
    // event loop, since this may run inside one of its own signals.
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
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
    // A name longer than a file system can hold (255 bytes) would fail the placement.
    if (name.isEmpty() || name == u"."_s || name == u".."_s || name.contains(u'/')
        || name.contains(u'\\') || name.contains(QChar(0)) || QFile::encodeName(name).size() > 255)
        return u"update.zip"_s;
    return name;
}

}  // namespace quillmere
