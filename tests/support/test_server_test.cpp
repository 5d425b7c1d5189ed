#include "support/test_server.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace quillmere::test {
namespace {

struct Fetched
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QUrl finalUrl;
    QByteArray contentType;
    QList<qint64> received;  // bytes buffered at each readyRead (QNAM's own progress
                             // signal is throttled to a few per second)
};

Fetched fetch(QNetworkAccessManager &manager, const QNetworkRequest &request)
{
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    Fetched result;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, [&result, &reply] {
        result.received.append(reply->bytesAvailable());
    });
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10'000))
        ADD_FAILURE() << "no answer within 10 s for " << request.url().toString().toStdString();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())  // a reply the client aborted is closed
        result.body = reply->readAll();
    result.finalUrl = reply->url();
    result.contentType = reply->rawHeader("Content-Type");
    return result;
}

Fetched fetch(QNetworkAccessManager &manager, const QUrl &url)
{
    return fetch(manager, QNetworkRequest(url));
}

QByteArray patterned(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char('a' + i % 23);
    return data;
}

TEST(TestServer, RecordsTheRequestAndServesTheScriptedResponse)
{
    for (const bool byName : {false, true}) {
        SCOPED_TRACE(byName ? "localhost" : "127.0.0.1");
        TestServer server;
        const QString path = u"/updates/latest-mac.yml?channel=beta"_s;
        server.expect(path, Response::ok("version: 1.0\n", "text/yaml"));
        QNetworkAccessManager manager;
        QNetworkRequest request(byName ? server.localhostUrl(path) : server.url(path));
        request.setRawHeader("Cache-Control", "no-cache");

        const Fetched got = fetch(manager, request);
        EXPECT_EQ(got.error, QNetworkReply::NoError);
        EXPECT_EQ(got.status, 200);
        EXPECT_EQ(got.body, "version: 1.0\n");
        EXPECT_EQ(got.contentType, "text/yaml");
        ASSERT_EQ(server.requests().size(), 1);
        const Request &seen = server.requests().first();
        EXPECT_EQ(seen.method, "GET");
        EXPECT_EQ(seen.path, path);
        EXPECT_EQ(seen.header("cache-control"), "no-cache");
        EXPECT_FALSE(seen.hasHeader("Range"));
    }
}

TEST(TestServer, BodiesArriveWholeWhateverTheFraming)
{
    using enum Response::Framing;
    const QByteArray body = patterned(64 * 1024);
    const struct
    {
        const char *name;
        Response response;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        qsizetype minProgressSteps = 1;
    } cases[] = {
        {"content length", {.body = body}},
        {"chunked", {.body = body, .framing = Chunked}},
        {"close delimited", {.body = body, .framing = CloseDelimited}},
        {"delayed", {.body = body, .delay = 50ms}},
        {"slices with pauses",
         {.body = body, .chunkSize = 16 * 1024, .chunkInterval = 30ms}, {}, 4},
        {"chunked slices", {.body = body, .framing = Chunked, .chunkSize = 1000}},
        {"error status", {.status = 404, .body = body}, QNetworkReply::ContentNotFoundError},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server;
        server.expect(u"/package.zip"_s, c.response);
        QNetworkAccessManager manager;
        const Fetched got = fetch(manager, server.url(u"/package.zip"_s));
        EXPECT_EQ(got.error, c.error);
        EXPECT_EQ(got.status, c.response.status);
        EXPECT_EQ(got.body, body);
        EXPECT_GE(got.received.size(), c.minProgressSteps);
    }
}

TEST(TestServer, BrokenResponsesEndInANetworkError)
{
    using enum Response::Framing;
    const QByteArray body = patterned(20'000);
    const struct
    {
        const char *name;
        Response response;
        QNetworkReply::NetworkError error;
    } cases[] = {
        {"reset", {.body = body, .resetAfter = 5000}, QNetworkReply::RemoteHostClosedError},
        {"reset chunked", {.body = body, .framing = Chunked, .resetAfter = 5000},
         QNetworkReply::RemoteHostClosedError},
        // A stalled transfer only ends by the client giving up.
        {"stall", {.body = body, .stallAfter = 5000}, QNetworkReply::OperationCanceledError},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server;
        server.expect(u"/package.zip"_s, c.response);
        QNetworkAccessManager manager;
        QNetworkRequest request(server.url(u"/package.zip"_s));
        request.setTransferTimeout(500);
        const Fetched got = fetch(manager, request);
        EXPECT_EQ(got.error, c.error);
        ASSERT_FALSE(got.received.isEmpty());
        EXPECT_EQ(got.received.last(), 5000);
    }
}

TEST(TestServer, UntrustedChainFailsTheHandshake)
{
    TestServer server(TestServer::Chain::Untrusted);
    QNetworkAccessManager manager;
    const Fetched got = fetch(manager, server.url(u"/updates/latest-mac.yml"_s));
    EXPECT_EQ(got.error, QNetworkReply::SslHandshakeFailedError);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(TestServer, RedirectsAreFollowedAndRepeatsServedInOrder)
{
    TestServer server;
    server.expect(u"/latest"_s, Response::redirect(QUrl(u"/v2/latest"_s)), TestServer::AtLeastOnce);
    server.expect(u"/v2/latest"_s, {.status = 503, .body = "busy"});
    server.expect(u"/v2/latest"_s, Response::ok("version: 2.0\n"), 2);
    QNetworkAccessManager manager;

    const Fetched first = fetch(manager, server.url(u"/latest"_s));
    EXPECT_EQ(first.status, 503);
    EXPECT_EQ(first.finalUrl, server.url(u"/v2/latest"_s));
    for (int i = 0; i < 2; ++i) {
        const Fetched again = fetch(manager, server.url(u"/v2/latest"_s));
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.body, "version: 2.0\n");
    }
    const QList<Request> seen = server.requests();
    EXPECT_EQ(std::count_if(seen.cbegin(), seen.cend(),
                            [](const Request &request) { return request.path == u"/v2/latest"; }),
              3);
}

TEST(TestServer, MismatchesFailTheTestOnVerify)
{
    const struct
    {
        const char *name;
        int expectedTimes;  // of GET /a, 0 for none
        QString requested;  // each path requested once, in order
        int answered500;
        const char *failure;
    } cases[] = {
        {"unexpected path", 0, u"/b"_s, 1, "unexpected request GET /b"},
        {"served too often", 1, u"/a /a"_s, 1, "unexpected request GET /a"},
        {"never requested", 2, u"/a"_s, 0,
         "expected GET /a (1 more time(s)) but it was never requested"},
        {"never requested at all", TestServer::AtLeastOnce, u""_s, 0,
         "expected GET /a (at least once) but it was never requested"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server;
        if (c.expectedTimes != 0)
            server.expect(u"/a"_s, Response::ok("a"), c.expectedTimes);
        QNetworkAccessManager manager;
        int answered500 = 0;
        for (const QString &path : c.requested.split(u' ', Qt::SkipEmptyParts))
            answered500 += fetch(manager, server.url(path)).status == 500;
        EXPECT_EQ(answered500, c.answered500);
        // Reported once: the destructor that follows must stay quiet.
        EXPECT_NONFATAL_FAILURE(server.verify(), c.failure);
    }
}

}  // namespace
}  // namespace quillmere::test
