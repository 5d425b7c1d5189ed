#include "download/package_download.h"
#include "support/test_server.h"
#include "ui/download_texts.h"

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
using test::Answer;
using test::httpResponse;
using test::TestServer;

constexpr qint64 MiB = 1048576;

TEST(DownloadTexts, ProgressInWholeMebibytesAndAnUnclampedPercentage)
{
    const struct {
        qint64 written, total;
        QString version, text;
        double percentage;
    } rows[] = {
        {12 * MiB + MiB / 2, 95 * MiB + MiB / 2, u"1.4.2"_s, u"正在下载 1.4.2… 12 / 95 MB"_s, 13.0890052},
        {MiB - 1, 3 * MiB, u"1.4.2"_s, u"正在下载 1.4.2… 0 / 3 MB"_s, 33.3333015},
        {300, 200, u"2.0"_s, u"正在下载 2.0… 0 / 0 MB"_s, 150.0},
        {MiB, MiB, QString(), u"正在下载 … 1 / 1 MB"_s, 100.0}, // no release held
    };
    for (const auto &row : rows) {
        EXPECT_EQ(downloadProgressText(row.written, row.total, row.version), row.text);
        EXPECT_NEAR(downloadPercentage(row.written, row.total), row.percentage, 1e-6);
    }
}

TEST(DownloadPlacement, HostileNamesStayInsideTheDirectory)
{
    const std::pair<const char *, QString> rows[] = {
        {"/updates/Q-1.4.2-mac.zip", u"Q-1.4.2-mac.zip"_s},
        {"/updates/%C3%BC%20x.zip", u"ü x.zip"_s},
        {"/updates/50%25.zip", u"50%.zip"_s},
        {"/updates/a%2Fb.zip", u"update.zip"_s},
        {"/updates/..%2F..%2Fevil.zip", u"update.zip"_s},
        {"/updates/a%5Cb.zip", u"update.zip"_s},
        {"/updates/a%00.zip", u"update.zip"_s},
        {"/updates/%2E%2E", u"update.zip"_s},
        {"/updates/.", u"update.zip"_s},
        {"/updates/", u"update.zip"_s},
        {"", u"update.zip"_s},
    };
    for (const auto &[path, name] : rows)
        EXPECT_EQ(placementFileName(QUrl(u"https://h.example"_s + QString::fromLatin1(path))), name) << path;
    // A file system holds names of up to 255 bytes (a "ü" takes two).
    const auto named = [](const QString &name) { return placementFileName(QUrl(u"https://h.example/"_s + name)); };
    EXPECT_EQ(named(QString(251, u'n') + u".zip"_s), QString(251, u'n') + u".zip"_s);
    EXPECT_EQ(named(QString(126, u'ü') + u".zip"_s), u"update.zip"_s);
}

// One transfer, and the retry of a failed one, straight on the download against the test
// server. The package is /updates/p.zip; the first attempt's answers are set by `serve`, the
// retry's (when there is one) by `retry`, which means the first attempt is to fail.
struct Transfer {
    const char *name;
    void (*serve)(TestServer &, const QByteArray &body);
    void (*retry)(TestServer &, const QByteArray &body) = nullptr;
    QString failure = {};          // the only attempt's error; empty: the body is placed
    int requests = 1;              // in all; 0: not counted (Qt may send a request again on a
                                   // connection that the server closed, so hops are not counted)
    bool rangeAsked = false;       // the retry asks for the rest
    std::chrono::milliseconds idle = 2s;
};

void PrintTo(const Transfer &row, std::ostream *os) { *os << row.name; }

class Transfers : public ::testing::TestWithParam<Transfer> {};

const QByteArray etag = "\"v1\"";
// The first 60% of the body, then a reset; with a validator.
void resetAtSixtyPercent(TestServer &server, const QByteArray &body)
{
    const QByteArray bytes = httpResponse(200, body, "ETag: " + etag + "\r\n");
    server.serve(u"/updates/p.zip"_s, {bytes, Answer::End::Reset, 0ms, bytes.size() - body.size() * 4 / 10});
}
template <int status, const char *location>
void redirect(TestServer &server, const QByteArray &body)
{
    server.serve(u"/updates/p.zip"_s, {httpResponse(status, "", "Location: " + QByteArray(location) + "\r\n")});
    server.serve(u"/moved/q.zip"_s, {httpResponse(200, body)});
}
const char absolute[] = "/moved/q.zip", relative[] = "../moved/q.zip";
// `hops` redirects in a row: p.zip, 1, 2... then the body.
template <int hops>
void chain(TestServer &server, const QByteArray &body)
{
    for (int hop = 0; hop < hops; ++hop)
        server.serve(hop ? u"/updates/%1"_s.arg(hop) : u"/updates/p.zip"_s,
                     {httpResponse(302, "", "Location: " + QByteArray::number(hop + 1) + "\r\n")});
    server.serve(u"/updates/%1"_s.arg(hops), {httpResponse(200, body)});
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
        QSignalSpy progress(download.get(), &PackageDownload::progress);
        QSignalSpy finished(download.get(), &PackageDownload::finished);
        download->start(server.url(u"/updates/p.zip"_s), {row.idle, 30s});
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
        const QByteArray range = server.requests().last().header("Range");
        EXPECT_EQ(range.isEmpty(), !row.rangeAsked) << range.toStdString();
        // Progress counts the whole file, from the first notice after resuming.
        if (row.rangeAsked && !progress.isEmpty()) {
            EXPECT_EQ(progress.last().value(1).toLongLong(), body.size());
        }
    }
    if (row.requests) {
        EXPECT_EQ(server.requests().size(), row.requests);
    }
    if (!row.failure.isEmpty()) {
        EXPECT_EQ(result.errorDescription, row.failure);
        return;
    }
    ASSERT_EQ(result.errorDescription, std::nullopt);
    ASSERT_TRUE(result.placedFile);
    EXPECT_TRUE(result.placedFile->endsWith(u"/p.zip"_s));
    QFile placed(*result.placedFile);
    ASSERT_TRUE(placed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(placed.readAll() == body);
    EXPECT_EQ(result.size, body.size());
    EXPECT_EQ(result.sha512, QCryptographicHash::hash(body, QCryptographicHash::Sha512));
}

INSTANTIATE_TEST_SUITE_P(Download, Transfers, ::testing::Values(
    Transfer{.name = "followed301", .serve = redirect<301, absolute>, .requests = 2},
    Transfer{.name = "followed303", .serve = redirect<303, absolute>, .requests = 2},
    Transfer{.name = "followed307", .serve = redirect<307, absolute>, .requests = 2},
    Transfer{.name = "followed308", .serve = redirect<308, absolute>, .requests = 2},
    Transfer{.name = "relativeLocation", .serve = redirect<302, relative>, .requests = 2},
    Transfer{.name = "redirectLoop", .serve = [](TestServer &server, const QByteArray &) {
        server.serve(u"/updates/p.zip"_s, {httpResponse(302, "", "Location: p.zip\r\n")});
    }, .failure = u"Too many redirects"_s, .requests = 0},
    Transfer{.name = "tenRedirects", .serve = chain<10>, .requests = 0},
    Transfer{.name = "elevenRedirects", .serve = chain<11>, .failure = u"Too many redirects"_s, .requests = 0},
    // Steady data for longer than the idle limit: each piece starts the limit again.
    Transfer{.name = "slowButSteady", .serve = [](TestServer &server, const QByteArray &body) {
        server.serve(u"/updates/p.zip"_s, {httpResponse(200, body), Answer::End::Close, 0ms, -1, body.size() / 12, 100ms});
    }, .idle = 400ms},
    Transfer{.name = "resumedAfterAReset", .serve = resetAtSixtyPercent, .retry = [](TestServer &server, const QByteArray &body) {
        server.respond(u"/updates/p.zip"_s, test::rangedFile(body, etag));
    }, .requests = 2, .rangeAsked = true},
    Transfer{.name = "rangeIgnored", .serve = resetAtSixtyPercent, .retry = [](TestServer &server, const QByteArray &body) {
        server.serve(u"/updates/p.zip"_s, {httpResponse(200, body)});
    }, .requests = 2, .rangeAsked = true},
    // A 206 for other bytes than the rest: asked again, for the whole file.
    Transfer{.name = "rangeElsewhere", .serve = resetAtSixtyPercent, .retry = [](TestServer &server, const QByteArray &body) {
        server.respond(u"/updates/p.zip"_s, [body](const test::Request &request) {
            return Answer{request.header("Range").isEmpty() ? httpResponse(200, body)
                          : httpResponse(206, body, "Content-Range: bytes 0-" + QByteArray::number(body.size() - 1) + "/*\r\n")};
        });
    }, .requests = 3, .rangeAsked = false},
    Transfer{.name = "noValidator", .serve = [](TestServer &server, const QByteArray &body) {
        const QByteArray bytes = httpResponse(200, body);
        server.serve(u"/updates/p.zip"_s, {bytes, Answer::End::Reset, 0ms, bytes.size() / 2});
    }, .retry = [](TestServer &server, const QByteArray &body) {
        server.respond(u"/updates/p.zip"_s, test::rangedFile(body, etag));
    }, .requests = 2}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillmere
