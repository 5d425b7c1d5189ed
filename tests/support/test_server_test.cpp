#include "support/test_server.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace quillmere::test {
namespace {

// The status of a plain GET, or 0 when no answer came.
int statusOf(QNetworkAccessManager &manager, const QUrl &url)
{
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10'000))
        ADD_FAILURE() << "no answer within 10 s for " << url.toString().toStdString();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The server's own answers (framing, stalls, resets, redirects, the untrusted chain) are
// exercised by the release-check tests; what only shows here is how it reports mismatches.
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
            answered500 += statusOf(manager, server.url(path)) == 500;
        EXPECT_EQ(answered500, c.answered500);
        // Reported once: the destructor that follows must stay quiet.
        EXPECT_NONFATAL_FAILURE(server.verify(), c.failure);
    }
}

}  // namespace
}  // namespace quillmere::test
