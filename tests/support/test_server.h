#pragma once

// A tiny HTTPS server for tests, in-process on the calling thread's event loop, listening on
// 127.0.0.1 on a port the system picks. An answer is given as the raw bytes of the whole
// response: expected once for a path (each expectation answers one request, in the order
// given), or served to every request for it. A request it neither expects nor serves fails the
// test (and gets a 404), and so does an expected one that has not come when the server goes.
//
//     TestServer server;
//     server.expectOnce(u"/updates/latest-mac.yml"_s, {httpResponse(200, "version: 1.0\n")});
//     server.serve(u"/updates/x.zip"_s, {httpResponse(200, body), Answer::End::Reset, 0ms, 1000});
//     fetch(server.url(u"/updates/latest-mac.yml"_s));   // the code under test

#include <QMap>
#include <QSslServer>
#include <QUrl>

#include <chrono>
#include <functional>

namespace quillmere::test {

// A whole response: status line, Content-Length, "Connection: close", `extraHeaders` (complete
// lines, each ending in "\r\n"), a blank line, then the body.
[[nodiscard]] QByteArray httpResponse(int status, const QByteArray &body,
                                      const QByteArray &extraHeaders = {});

struct Answer {
    // What follows the bytes: a closed connection, silence with the connection left open, or
    // a reset (TCP RST) 200 ms after they have all been handed to the system; a reset drops
    // whatever the client had not yet read (and a client that has no status line yet may
    // send the request again).
    enum class End { Close, Stall, Reset };

    QByteArray bytes;
    End end = End::Close;
    std::chrono::milliseconds delay{0};  // before the first byte
    qsizetype sendOnly = -1;             // send only this many of the bytes, then `end`
    // A slow but steady answer: this many bytes at a time, `interval` apart.
    qsizetype pieceBytes = 0;
    std::chrono::milliseconds interval{0};
    // After the bytes, this many line feeds more, as fast as the client takes them: a body
    // that goes on far past any bound.
    qint64 padding = 0;
};

struct Request {
    QString path;     // as sent: path and query, still percent-encoded
    QByteArray head;  // the request line and the header lines, each ending in "\r\n"

    // A header's value, trimmed; empty when it was not sent.
    [[nodiscard]] QByteArray header(const QByteArray &name) const;
};

using Responder = std::function<Answer(const Request &)>;

// A file served as a server that keeps ranges does: 200 with the whole `body` and `etag`, or,
// to "Range: bytes=N-" with a matching "If-Range", 206 with the bytes from N.
[[nodiscard]] Responder rangedFile(const QByteArray &body, const QByteArray &etag);

class TestServer;

// `hops` redirects in a row from `first`, each to a relative location in its folder (1, 2...),
// then `last` (at `first` itself when there are none).
void serveRedirects(TestServer &server, const QString &first, int hops, const Answer &last);

class TestServer {
public:
    // The certificate presented: Trusted is from the CA that trustTestAuthority() adds;
    // Untrusted from a CA that nothing trusts; OtherHost from the trusted CA but for another
    // host name.
    enum class Chain { Trusted, Untrusted, OtherHost };

    explicit TestServer(Chain chain = Chain::Trusted);
    ~TestServer();

    // For the connections that follow.
    void setChain(Chain chain);

    // The next request for `path` that no earlier expectation takes gets this answer.
    void expectOnce(const QString &path, Responder responder) { expected_.append({path, std::move(responder)}); }
    void expectOnce(const QString &path, const Answer &answer) { expectOnce(path, [answer](const Request &) { return answer; }); }
    // Replaces the answer for `path` to every request that no expectation takes; requests
    // already being answered keep theirs.
    void serve(const QString &path, const Answer &answer) { respond(path, [answer](const Request &) { return answer; }); }
    // The same, with an answer made for each request.
    void respond(const QString &path, Responder responder) { answers_.insert(path, std::move(responder)); }
    // https://HOST:PORT<path>, HOST 127.0.0.1 or another name for this machine.
    [[nodiscard]] QUrl url(const QString &path, const QString &host = QStringLiteral("127.0.0.1")) const;
    // Every request so far, in arrival order.
    [[nodiscard]] const QList<Request> &requests() const { return requests_; }

private:
    QList<std::pair<QString, Responder>> expected_;
    QMap<QString, Responder> answers_;
    QList<Request> requests_;
    QSslServer server_;  // last, so that its connections go first
};

// Makes every TLS connection of this process trust the test CA besides the system roots.
// Called once from the test main() after the application object exists.
void trustTestAuthority();

}  // namespace quillmere::test
