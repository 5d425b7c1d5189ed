#include "support/test_server.h"

#include "app/trusted_authorities.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace quillmere::test {

namespace {

// Requests whose head grows beyond this are refused; nothing legitimate comes close.
constexpr qsizetype maxRequestHead = 64 * 1024;

QByteArray readFile(const char *path)
{
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "TestServer: cannot read " << path << ": "
                      << file.errorString().toStdString();
        return {};
    }
    return file.readAll();
}

// Path and query in one canonical percent-encoding, so "/a%2Db" and "/a-b" match.
QByteArray normalisedTarget(const QString &target)
{
    const QUrl url(u"https://host"_s + target);
    return url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 410: return "Gone";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

}  // namespace

QByteArray Request::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool Request::hasHeader(QByteArrayView name) const
{
    return std::any_of(headers.cbegin(), headers.cend(), [name](const auto &header) {
        return header.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

Response Response::ok(QByteArray body, QByteArray contentType)
{
    return {.body = std::move(body), .headers = {{"Content-Type", std::move(contentType)}}};
}

Response Response::redirect(const QUrl &location, int status)
{
    return {.status = status, .headers = {{"Location", location.toEncoded()}}};
}

namespace {

// What the server was told to expect and what it saw.
struct Script
{
    struct Expectation
    {
        QByteArray method;
        QString path;
        QByteArray target;  // normalised path, for matching
        Response response;
        int remaining;  // or TestServer::AtLeastOnce
        bool served = false;
    };

    // Records the request and picks its scripted response, or a 500 for one nobody expected.
    Response answer(const Request &request);

    QList<Expectation> expectations;
    QList<Request> requests;
    QStringList problems;  // not yet reported
};

Response Script::answer(const Request &request)
{
    requests.append(request);
    const QByteArray target = normalisedTarget(request.path);
    for (Expectation &expectation : expectations) {
        if (expectation.remaining != 0 && expectation.method == request.method
            && expectation.target == target) {
            if (expectation.remaining > 0)
                --expectation.remaining;
            expectation.served = true;
            return expectation.response;
        }
    }
    const QString what = QString::fromLatin1(request.method) + u' ' + request.path;
    problems.append(u"unexpected request "_s + what);
    return {.status = 500, .body = "No response scripted for " + what.toUtf8() + '\n'};
}

}  // namespace

struct TestServer::Private
{
    Script script;
    quint16 port = 0;
    // Last, so that it, and with it every connection, goes first.
    std::unique_ptr<QSslServer> server;
};

namespace {

// One accepted connection: reads requests one after another and plays the scripted
// responses. Owns its socket; both go away when the peer disconnects or the server does.
class Connection : public QObject
{
public:
    Connection(QSslSocket *socket, Script *script, QObject *parent)
        : QObject(parent), m_socket(socket), m_script(script)
    {
        m_socket->setParent(this);
        QObject::connect(m_socket, &QSslSocket::readyRead, this, &Connection::readRequests);
        QObject::connect(m_socket, &QSslSocket::disconnected, this, &QObject::deleteLater);
        readRequests();
    }

private:
    enum class Ending { Finish, Stall, Reset };

    bool connected() const { return m_socket->state() == QAbstractSocket::ConnectedState; }

    void readRequests()
    {
        m_buffer += m_socket->readAll();
        while (!m_busy && connected()) {
            const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
            if (headEnd < 0) {
                if (m_buffer.size() > maxRequestHead)
                    refuse("request head too large");
                return;
            }
            std::optional<Request> request = parseHead(m_buffer.first(headEnd));
            if (!request) {
                refuse("malformed request: " + m_buffer.first(std::min<qsizetype>(headEnd, 200)));
                return;
            }
            bool lengthOk = true;
            const qsizetype bodyLength = request->hasHeader("Content-Length")
                ? request->header("Content-Length").toLongLong(&lengthOk)
                : 0;
            if (!lengthOk || bodyLength < 0) {
                refuse("bad Content-Length");
                return;
            }
            const qsizetype total = headEnd + 4 + bodyLength;
            if (m_buffer.size() < total)
                return;  // the rest of the body is still on its way
            request->body = m_buffer.sliced(headEnd + 4, bodyLength);
            m_buffer.remove(0, total);
            respond(*request);
        }
    }

    std::optional<Request> parseHead(QByteArrayView head)
    {
        const QList<QByteArray> lines = head.toByteArray().split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1."))
            return std::nullopt;
        Request request{.method = requestLine[0], .path = QString::fromLatin1(requestLine[1])};
        m_http10 = requestLine[2] == "HTTP/1.0";
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &line = lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                return std::nullopt;
            request.headers.append({line.first(colon).trimmed(), line.sliced(colon + 1).trimmed()});
        }
        return request;
    }

    // A request the server cannot even parse is a test failure in itself.
    void refuse(const QByteArray &why)
    {
        m_script->problems.append(QString::fromLatin1(why));
        m_busy = true;
        m_socket->write(
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        m_socket->disconnectFromHost();
    }

    void respond(const Request &request)
    {
        const Response response = m_script->answer(request);
        m_busy = true;
        m_close = m_http10 || response.framing == Response::Framing::CloseDelimited
            || request.header("Connection").compare("close", Qt::CaseInsensitive) == 0;
        const bool chunked = response.framing == Response::Framing::Chunked;
        const bool noBody = request.method == "HEAD" || response.status == 204
            || response.status == 304 || response.status < 200;

        m_head = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
            + (response.reason.isEmpty() ? reasonPhrase(response.status) : response.reason)
            + "\r\n";
        if (response.framing == Response::Framing::ContentLength && response.status != 204
            && response.status != 304)
            m_head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        if (chunked && !noBody)
            m_head += "Transfer-Encoding: chunked\r\n";
        if (m_close)
            m_head += "Connection: close\r\n";
        for (const auto &[name, value] : response.headers)
            m_head += name + ": " + value + "\r\n";
        m_head += "\r\n";

        // Cut the body into the slices that are written one by one, up to where it breaks off.
        m_slices.clear();
        m_ending = response.resetAfter ? Ending::Reset
            : response.stallAfter      ? Ending::Stall
                                       : Ending::Finish;
        QByteArray body = noBody ? QByteArray() : response.body;
        if (const auto breakOff = response.resetAfter ? response.resetAfter : response.stallAfter)
            body.truncate(std::max<qsizetype>(0, *breakOff));
        const qsizetype sliceSize = response.chunkSize > 0 ? response.chunkSize
            : chunked ? std::max<qsizetype>(1, (response.body.size() + 2) / 3)
                      : std::max<qsizetype>(1, body.size());
        for (qsizetype at = 0; at < body.size(); at += sliceSize)
            m_slices.append(body.sliced(at, std::min(sliceSize, body.size() - at)));
        m_chunked = chunked && !noBody;
        m_interval = response.chunkInterval;

        if (response.delay > 0ms)
            QTimer::singleShot(response.delay, this, [this] { start(); });
        else
            start();
    }

    void start()
    {
        if (!connected())
            return;
        m_socket->write(m_head);
        sendSlice(0);
    }

    void sendSlice(qsizetype index)
    {
        for (; index < m_slices.size() && connected(); ++index) {
            const QByteArray &slice = m_slices[index];
            if (m_chunked)
                m_socket->write(QByteArray::number(slice.size(), 16) + "\r\n" + slice + "\r\n");
            else
                m_socket->write(slice);
            if (m_interval > 0ms && index + 1 < m_slices.size()) {
                QTimer::singleShot(m_interval, this, [this, index] { sendSlice(index + 1); });
                return;
            }
        }
        if (connected())
            finish();
    }

    void finish()
    {
        switch (m_ending) {
        case Ending::Stall:
            m_socket->flush();
            return;
        case Ending::Reset:
            resetWhenFlushed();
            return;
        case Ending::Finish:
            if (m_chunked)
                m_socket->write("0\r\n\r\n");
            if (m_close) {
                m_socket->disconnectFromHost();
                return;
            }
            m_busy = false;
            readRequests();
            return;
        }
    }

    // What was written reaches the peer first; then SO_LINGER 0 turns the close into a RST,
    // so the client sees the connection reset rather than closed in good order.
    void resetWhenFlushed()
    {
        if (!connected())
            return;
        m_socket->flush();
        if (m_socket->bytesToWrite() > 0 || m_socket->encryptedBytesToWrite() > 0) {
            QTimer::singleShot(5ms, this, [this] { resetWhenFlushed(); });
            return;
        }
        const linger hard{.l_onoff = 1, .l_linger = 0};
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                     sizeof hard);
        m_socket->abort();
    }

    QSslSocket *m_socket;
    Script *m_script;
    QByteArray m_buffer;
    bool m_busy = false;
    bool m_http10 = false;
    // The response in progress.
    QByteArray m_head;
    QList<QByteArray> m_slices;
    bool m_chunked = false;
    bool m_close = false;
    std::chrono::milliseconds m_interval{0};
    Ending m_ending = Ending::Finish;
};

}  // namespace

TestServer::TestServer(Chain chain) : d(std::make_unique<Private>())
{
    const bool trusted = chain == Chain::Trusted;
    const QSslCertificate certificate(
        readFile(trusted ? QUILLMERE_TEST_SERVER_CERT : QUILLMERE_TEST_UNTRUSTED_SERVER_CERT),
        QSsl::Pem);
    const QSslKey key(
        readFile(trusted ? QUILLMERE_TEST_SERVER_KEY : QUILLMERE_TEST_UNTRUSTED_SERVER_KEY),
        QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        ADD_FAILURE() << "TestServer: the test certificate or key does not load";

    QSslConfiguration config;
    config.setLocalCertificate(certificate);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    // Offering only HTTP/1.1 keeps clients that would like HTTP/2 on what this server speaks.
    config.setAllowedNextProtocols({QSslConfiguration::NextProtocolHttp1_1});

    d->server = std::make_unique<QSslServer>();
    d->server->setSslConfiguration(config);
    QObject::connect(d->server.get(), &QSslServer::pendingConnectionAvailable, d->server.get(),
                     [this] {
                         while (QTcpSocket *socket = d->server->nextPendingConnection())
                             new Connection(qobject_cast<QSslSocket *>(socket), &d->script,
                                            d->server.get());
                     });
    if (d->server->listen(QHostAddress::LocalHost, 0))
        d->port = d->server->serverPort();
    else
        ADD_FAILURE() << "TestServer: cannot listen: " << d->server->errorString().toStdString();
}

TestServer::~TestServer()
{
    d->server.reset();
    verify();
}

void TestServer::expect(const QString &path, const Response &response, int times)
{
    expect("GET", path, response, times);
}

void TestServer::expect(const QByteArray &method, const QString &path, const Response &response,
                        int times)
{
    Q_ASSERT(times > 0 || times == AtLeastOnce);
    d->script.expectations.append({method, path, normalisedTarget(path), response, times});
}

QUrl TestServer::url(const QString &path) const
{
    return QUrl(u"https://127.0.0.1:"_s + QString::number(port()) + path);
}

QUrl TestServer::localhostUrl(const QString &path) const
{
    return QUrl(u"https://localhost:"_s + QString::number(port()) + path);
}

quint16 TestServer::port() const
{
    return d->port;
}

const QList<Request> &TestServer::requests() const
{
    return d->script.requests;
}

bool TestServer::verify()
{
    QStringList problems;
    Script &script = d->script;
    const auto unmet = [](const Script::Expectation &expectation) {
        return expectation.remaining > 0 || (expectation.remaining < 0 && !expectation.served);
    };
    for (const Script::Expectation &expectation : std::as_const(script.expectations)) {
        if (!unmet(expectation))
            continue;
        const QString times = expectation.remaining > 0
            ? u"%1 more time(s)"_s.arg(expectation.remaining)
            : u"at least once"_s;
        problems.append(u"expected %1 %2 (%3) but it was never requested"_s.arg(
            QString::fromLatin1(expectation.method), expectation.path, times));
    }
    problems += script.problems;
    script.problems.clear();
    script.expectations.removeIf(unmet);
    if (problems.isEmpty())
        return true;
    ADD_FAILURE() << "TestServer on port " << port() << ":\n  "
                  << problems.join(u"\n  "_s).toStdString();
    return false;
}

void trustTestAuthority()
{
    // Runs before any test, so a missing file stops the run instead of failing a test.
    QFile file(QString::fromUtf8(QUILLMERE_TEST_CA_PEM));
    if (!file.open(QIODevice::ReadOnly) || trustExtraAuthorities(file.readAll()) != 1)
        qFatal("The test CA %s does not load; rebuild the tests.", QUILLMERE_TEST_CA_PEM);
}

}  // namespace quillmere::test
