#include "download/package_download.h"
#include "support/test_server.h"

#include "support/printing.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace test;

constexpr qint64 MiB = 1048576;

// The name comes from the manifest, whose names always end in ".zip" (the road's rows: encoded
// slashes, parent folders, a long name); decoded once, and only ever one name a file system holds.
TEST(DownloadPlacement, HostileNamesStayInsideTheDirectory)
{
    const auto named = [](const QString &name) { return placementFileName(QUrl(u"https://h.example/updates/"_s + name)); };
    EXPECT_EQ(named(u"%C3%BC%20x%2525.zip"_s), u"ü x%25.zip"_s);
    // Up to 255 bytes (a "ü" takes two).
    EXPECT_EQ(named(QString(251, u'n') + u".zip"_s), QString(251, u'n') + u".zip"_s);
    for (const QString &refused : {u"a%2Fb.zip"_s, u"a%5Cb.zip"_s, u"a%00.zip"_s, u"%2E%2E"_s, u"."_s, u""_s, QString(126, u'ü') + u".zip"_s})
        EXPECT_EQ(named(refused), u"update.zip"_s) << refused.toStdString();
}

// One transfer, and the retry of a failed one, straight on the download against the test
// server: what the road cannot make cheaply or exactly. The package is /updates/p.zip; the first
// attempt's answers are set by `serve`, the retry's (when there is one) by `retry`, which means
// the first attempt is to fail.
struct Transfer {
    const char *name;
    void (*serve)(TestServer &, const QByteArray &body);
    void (*retry)(TestServer &, const QByteArray &body) = nullptr;
    QString failure = {};     // the last attempt's error; empty: the body is placed
    int requests = 0;         // in all; 0: not counted (Qt may send a request again on a
                              // connection that the server closed, so hops are not counted)
    bool rangeAsked = false;  // the retry's last request asks for the rest
    std::chrono::milliseconds idle = 2s;
};

void PrintTo(const Transfer &row, std::ostream *os) { *os << row.name; }
class Transfers : public ::testing::TestWithParam<Transfer> {};

const QByteArray etag = "\"v1\"";
// The first 60% of the body, then a reset; with a validator unless `plain`, a weak one if `weak`.
template <bool plain = false, bool weak = false>
void resetAtSixtyPercent(TestServer &server, const QByteArray &body)
{
    const QByteArray bytes = httpResponse(200, body, plain ? "" : "ETag: " + (weak ? "W/" + etag : etag) + "\r\n");
    server.serve(u"/updates/p.zip"_s, {bytes, Answer::End::Reset, 0ms, bytes.size() - body.size() * 4 / 10});
}
void rangedFile(TestServer &server, const QByteArray &body) { server.respond(u"/updates/p.zip"_s, test::rangedFile(body, etag)); }
// `hops` redirects in a row from p.zip, then the body (at p.zip without any: the whole file,
// whatever was asked).
template <int hops>
void chain(TestServer &server, const QByteArray &body)
{
    serveRedirects(server, u"/updates/p.zip"_s, hops, {httpResponse(200, body)});
}

TEST_P(Transfers, PlaceTheWholeBodyOrFail)
{
    const Transfer &row = GetParam();
    TestServer server;
    QTemporaryDir folder;
    QByteArray body(300 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(body.data()), body.size() / 4);
    row.serve(server, body);
    const auto attempt = [&](PackageDownload *earlier) {
        auto download = std::make_unique<PackageDownload>(folder.path());
        if (earlier)
            download->resumeFrom(*earlier);
        QSignalSpy progress(download.get(), &PackageDownload::progress), finished(download.get(), &PackageDownload::finished);
        download->start(server.url(u"/updates/p.zip"_s), {row.idle, 30s, std::nullopt});
        EXPECT_TRUE(finished.wait(20000));
        QTest::qWait(50); // a second finished() would come now
        EXPECT_EQ(finished.count(), 1);
        return std::tuple{std::move(download), finished.value(0).value(0).value<DownloadResult>(), QList<QVariantList>(progress)};
    };
    auto [first, result, progress] = attempt(nullptr);
    if (row.retry) {
        EXPECT_TRUE(result.errorDescription);
        row.retry(server, body);
        std::tie(std::ignore, result, progress) = attempt(first.get());
        EXPECT_EQ(server.requests().last().header("Range").isEmpty(), !row.rangeAsked);
        // Progress counts the whole file, from the first notice after resuming.
        EXPECT_EQ(progress.isEmpty() ? -1 : progress.last().value(1).toLongLong(), body.size());
    }
    EXPECT_EQ(row.requests ? server.requests().size() : 0, row.requests);
    EXPECT_EQ(result.errorDescription.value_or(QString()), row.failure);
    if (!row.failure.isEmpty())
        return;
    QFile placed(result.placedFile.value_or(QString()));
    ASSERT_TRUE(placed.fileName().endsWith(u"/p.zip"_s) && placed.open(QIODevice::ReadOnly)) << placed.fileName().toStdString();
    EXPECT_TRUE(placed.readAll() == body && result.size == body.size()
                && result.sha512 == QCryptographicHash::hash(body, QCryptographicHash::Sha512));
}

INSTANTIATE_TEST_SUITE_P(Download, Transfers, ::testing::Values(
    Transfer{.name = "tenRedirects", .serve = chain<10>},
    Transfer{.name = "elevenRedirects", .serve = chain<11>, .failure = u"Too many redirects"_s},
    // Steady data for longer than the idle limit: each piece starts the limit again.
    Transfer{.name = "slowButSteady", .serve = [](TestServer &server, const QByteArray &body) {
        server.serve(u"/updates/p.zip"_s, {httpResponse(200, body), Answer::End::Close, 0ms, -1, body.size() / 12, 100ms});
    }, .requests = 1, .idle = 400ms},
    Transfer{.name = "resumedAfterAReset", .serve = resetAtSixtyPercent, .retry = rangedFile, .requests = 2, .rangeAsked = true},
    Transfer{.name = "rangeIgnored", .serve = resetAtSixtyPercent, .retry = chain<0>, .requests = 2, .rangeAsked = true},
    // A 206 for other bytes than the rest: asked again, for the whole file.
    Transfer{.name = "rangeElsewhere", .serve = resetAtSixtyPercent, .retry = [](TestServer &server, const QByteArray &body) {
        server.respond(u"/updates/p.zip"_s, [body](const test::Request &request) {
            return Answer{request.header("Range").isEmpty() ? httpResponse(200, body)
                          : httpResponse(206, body, "Content-Range: bytes 0-" + QByteArray::number(body.size() - 1) + "/*\r\n")};
        });
    }, .requests = 3},
    // Without a validator the rest could belong to another file: the retry asks for all of it.
    Transfer{.name = "noValidator", .serve = resetAtSixtyPercent<true>, .retry = rangedFile, .requests = 2},
    // Nor with a weak one, which vouches for the meaning, not the bytes.
    Transfer{.name = "weakValidator", .serve = resetAtSixtyPercent<false, true>, .retry = rangedFile, .requests = 2}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillmere
