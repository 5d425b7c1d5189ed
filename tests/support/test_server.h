#pragma once

// A scriptable HTTPS/1.1 server for tests. It runs in-process on the calling thread's event
// loop, listens on 127.0.0.1 on a port the system picks, and answers each request with the
// response the test scripted for it. When destroyed (or on verify()) it fails the running
// test for every scripted request that never came and every request nobody scripted.
//
//     TestServer server;
//     server.expect(u"/updates/latest-mac.yml"_s, Response::ok("version: 1.0\n"));
//     server.expect(u"/updates/x.zip"_s, {.status = 404, .body = "<html>nope</html>"});
//     fetch(server.url(u"/updates/latest-mac.yml"_s));   // the code under test
//     EXPECT_EQ(server.requests().at(0).header("Cache-Control"), "no-cache");

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace quillmere::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One scripted answer. An aggregate, so tests can write {.status = 404, .body = "..."}; every
// member has an initializer, which keeps GCC's -Wmissing-field-initializers quiet about that.
struct Response
{
    // How the end of the body is marked.
    enum class Framing {
        ContentLength,   // Content-Length header (always the full body size)
        CloseDelimited,  // no length; the server closes the connection after the body
        Chunked,         // Transfer-Encoding: chunked, one chunk per slice (see chunkSize)
    };

    int status = 200;
    QByteArray body{};
    HeaderList headers{};  // extra response headers, sent as given after the server's own
    Framing framing = Framing::ContentLength;
    QByteArray reason{};   // empty: the usual phrase for `status`
    // Wait this long before sending anything.
    std::chrono::milliseconds delay{0};
    // Send the body in slices of this many bytes (0: one slice; three chunks when Chunked),
    // pausing chunkInterval between slices.
    qsizetype chunkSize = 0;
    std::chrono::milliseconds chunkInterval{0};
    // Send the headers and this many body bytes, then nothing more; the connection stays
    // open until the server is destroyed.
    std::optional<qsizetype> stallAfter{};
    // Send the headers and this many body bytes, then reset the connection (TCP RST). Qt
    // takes a reset of a CloseDelimited body for its normal end; only the length is short.
    std::optional<qsizetype> resetAfter{};

    // 200 with the body and a Content-Type.
    static Response ok(QByteArray body, QByteArray contentType = "text/plain");
    // `status` (a 3xx) with Location set to `location`, sent as given (may be relative).
    static Response redirect(const QUrl &location, int status = 302);
};

// A request as it arrived.
struct Request
{
    QByteArray method{};
    QString path{};        // request target as sent: path and query, still percent-encoded
    HeaderList headers{};  // in arrival order, names as sent
    QByteArray body{};     // only when the request carried Content-Length

    // Value of the first header named `name` (case-insensitive); empty when absent.
    [[nodiscard]] QByteArray header(QByteArrayView name) const;
    [[nodiscard]] bool hasHeader(QByteArrayView name) const;
};

class TestServer
{
public:
    // Which certificate the server presents. Trusted is issued by the test CA that
    // trustTestAuthority() adds; Untrusted by a CA that nothing trusts.
    enum class Chain { Trusted, Untrusted };

    // Starts listening at once; a server that cannot start fails the current test.
    explicit TestServer(Chain chain = Chain::Trusted);
    // Closes every connection, then verify().
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    // `times` for a request that may come more than once: served every time, unmet if never.
    // Needed for redirects that QNetworkAccessManager follows: Qt 6.4 can send the redirected
    // request a second time (an old request delegate gets restarted); it ignores the answer.
    static constexpr int AtLeastOnce = -1;

    // Answer the next `times` requests for `method` and `path` (path and query, compared after
    // normalising percent-encoding) with `response`. Expectations for the same request are
    // used up in the order they were made (an AtLeastOnce one is never used up, so it goes
    // last); requests for different paths may come in any order.
    void expect(const QString &path, const Response &response, int times = 1);  // GET
    void expect(const QByteArray &method, const QString &path, const Response &response,
                int times = 1);

    // https://127.0.0.1:PORT<path>, and the same with the host name localhost (which the
    // certificate also covers). `path` starts with '/' and may carry a query.
    [[nodiscard]] QUrl url(const QString &path) const;
    [[nodiscard]] QUrl localhostUrl(const QString &path) const;
    [[nodiscard]] quint16 port() const;

    // Every request received so far, expected or not, in arrival order. The list grows while
    // the event loop runs; references into it last only until the next request arrives.
    [[nodiscard]] const QList<Request> &requests() const;

    // Fails the current test (one ADD_FAILURE listing everything) if an expectation is unmet or
    // an unexpected request came; unexpected requests were answered 500. Returns whether all
    // was well, and forgets what it reported, so the destructor reports only what is new.
    bool verify();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Makes every TLS connection of this process trust the test CA besides the system roots.
// Called once from the test main() after the application object exists.
void trustTestAuthority();

}  // namespace quillmere::test
