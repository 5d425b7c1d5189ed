#include "support/test_server.h"

#include "app/trusted_authorities.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace quillmere::test {
namespace {

// At most this much of an answer waits in a socket at a time: a large body is written as the
// client takes it, never copied whole into the socket's buffer.
constexpr qsizetype queueLimit = 256 * 1024;

// A file made with the test certificates.
QByteArray certificateFile(const QString &name)
{
    QFile file(QStringLiteral(QUILLMERE_TEST_CERTIFICATE_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("Cannot read %s; rebuild the tests.", qPrintable(file.fileName()));
    return file.readAll();
}

// One accepted connection: reads one request and plays its answer. A child of the socket,
// which goes when the peer disconnects or the server does.
class Connection : public QObject {
public:
    Connection(QSslSocket *socket, Responder answering)
        : QObject(socket), socket_(socket), answering_(std::move(answering))
    {
        connect(socket, &QSslSocket::readyRead, this, &Connection::read);
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        read();
    }

private:
    void read()
    {
        head_ += socket_->readAll();
        const qsizetype headEnd = head_.indexOf("\r\n\r\n");
        if (!answering_ || headEnd < 0)
            return;
        const QByteArray path = head_.first(head_.indexOf("\r\n")).split(' ').value(1);
        answer_ = std::exchange(answering_, nullptr)({QString::fromLatin1(path), head_.first(headEnd + 2)});
        QTimer::singleShot(answer_.delay, this, [this] {
            // Queued, so that closing or resetting never happens inside the socket's own work.
            connect(socket_, &QSslSocket::bytesWritten, this, &Connection::send, Qt::QueuedConnection);
            connect(socket_, &QSslSocket::encryptedBytesWritten, this, &Connection::send, Qt::QueuedConnection);
            if (answer_.pieceBytes > 0) {  // a slow answer: one more piece allowed each interval
                auto *pieces = new QTimer(this);
                connect(pieces, &QTimer::timeout, this, [this] { allowed_ += answer_.pieceBytes, send(); });
                pieces->start(answer_.interval);
            }
            send();
        });
    }

    // Tops up the socket's queue; runs again whenever some of it has left.
    void send()
    {
        const qsizetype own = answer_.sendOnly < 0 ? answer_.bytes.size() : std::min(answer_.sendOnly, answer_.bytes.size());
        const qsizetype whole = own + answer_.padding;
        const qsizetype end = answer_.pieceBytes > 0 ? std::min(whole, allowed_ + answer_.pieceBytes) : whole;
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return;
        const auto queued = [this] { return socket_->bytesToWrite() + socket_->encryptedBytesToWrite(); };
        for (qsizetype piece; sent_ < end && queued() < queueLimit; sent_ += piece) {
            piece = std::min(end - sent_, queueLimit);
            if (sent_ < own)
                socket_->write(answer_.bytes.constData() + sent_, piece = std::min(piece, own - sent_));
            else
                socket_->write(QByteArray(piece, '\n'));
        }
        if (sent_ < whole || answer_.end == Answer::End::Stall)
            return;
        if (answer_.end == Answer::End::Close) {
            socket_->disconnectFromHost();  // once what is queued has gone
        } else if (queued() == 0) {
            // Reset: everything has left, and a moment later (once the client has read it, or
            // a client would send the request again when no status line came) SO_LINGER 0
            // turns the close into a RST. Nothing is sent after it.
            answer_.end = Answer::End::Stall;
            QTimer::singleShot(200, this, [this] {
                const linger hard{.l_onoff = 1, .l_linger = 0};
                ::setsockopt(int(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                socket_->abort();
            });
        }
    }

    QSslSocket *socket_;
    Responder answering_;  // null once the request is in
    QByteArray head_;
    Answer answer_;
    qsizetype sent_ = 0;
    qsizetype allowed_ = 0;  // of a slow answer, what may have been sent by now beyond the first piece
};

}  // namespace

QByteArray httpResponse(int status, const QByteArray &body, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Test\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

TestServer::TestServer(Chain chain)
{
    setChain(chain);
    QObject::connect(&server_, &QSslServer::pendingConnectionAvailable, &server_, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            new Connection(static_cast<QSslSocket *>(socket), [this](const Request &request) {
                requests_.append(request);
                for (qsizetype i = 0; i < expected_.size(); ++i) {
                    if (expected_[i].first == request.path)
                        return expected_.takeAt(i).second(request);
                }
                if (const auto found = answers_.constFind(request.path); found != answers_.cend())
                    return (*found)(request);
                ADD_FAILURE() << "The test server was not told to expect " << request.head.toStdString();
                return Answer{httpResponse(404, "Not here\n")};
            });
        }
    });
    if (!server_.listen(QHostAddress::LocalHost))
        qFatal("The test server cannot listen: %s", qPrintable(server_.errorString()));
}

void TestServer::setChain(Chain chain)
{
    // Read once, at the first server: a test may go on as a user who cannot read the keys.
    static const QList<QSslConfiguration> configs = [] {
        QList<QSslConfiguration> all;
        for (const QString &name : {u"server"_s, u"untrusted-server"_s, u"otherhost-server"_s}) {
            QSslConfiguration config;
            config.setLocalCertificate(QSslCertificate(certificateFile(name + u".pem"_s)));
            config.setPrivateKey(QSslKey(certificateFile(name + u".key"_s), QSsl::Ec));
            config.setPeerVerifyMode(QSslSocket::VerifyNone);
            // Only HTTP/1.1 is offered, so that clients which would like HTTP/2 stay on what this speaks.
            config.setAllowedNextProtocols({QSslConfiguration::NextProtocolHttp1_1});
            all << config;
        }
        return all;
    }();
    server_.setSslConfiguration(configs.at(int(chain)));
}

TestServer::~TestServer()
{
    for (const auto &[path, responder] : std::as_const(expected_))
        ADD_FAILURE() << "An expected request never came: " << path.toStdString();
}

QUrl TestServer::url(const QString &path, const QString &host) const
{
    return QUrl(u"https://%1:%2%3"_s.arg(host).arg(server_.serverPort()).arg(path));
}

QByteArray Request::header(const QByteArray &name) const
{
    const qsizetype at = head.toLower().indexOf("\r\n" + name.toLower() + ':');
    return at < 0 ? QByteArray() : head.mid(at + name.size() + 3, head.indexOf("\r\n", at + 2) - at - name.size() - 3).trimmed();
}

Responder rangedFile(const QByteArray &body, const QByteArray &etag)
{
    return [body, etag](const Request &request) {
        const QByteArray range = request.header("Range");
        const QByteArray tag = "ETag: " + etag + "\r\n";
        if (!range.startsWith("bytes=") || !range.endsWith('-') || request.header("If-Range") != etag)
            return Answer{httpResponse(200, body, tag)};
        const qsizetype from = range.mid(6, range.size() - 7).toLongLong();
        return Answer{httpResponse(206, body.mid(from), tag + "Content-Range: bytes " + QByteArray::number(from) + '-'
                                                          + QByteArray::number(body.size() - 1) + '/' + QByteArray::number(body.size()) + "\r\n")};
    };
}

void serveRedirects(TestServer &server, const QString &first, int hops, const Answer &last)
{
    const QString folder = first.left(first.lastIndexOf(u'/') + 1);
    const auto path = [&](int hop) { return hop ? folder + QString::number(hop) : first; };
    for (int hop = 0; hop < hops; ++hop)
        server.serve(path(hop), {httpResponse(302, "", "Location: " + QByteArray::number(hop + 1) + "\r\n")});
    server.serve(path(hops), last);
}

void trustTestAuthority()
{
    // Runs before any test, so a missing file stops the run instead of failing a test.
    if (trustExtraAuthorities(certificateFile(u"ca.pem"_s)) != 1)
        qFatal("The test CA does not load; rebuild the tests.");
}

}  // namespace quillmere::test
