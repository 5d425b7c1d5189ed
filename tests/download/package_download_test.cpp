#include "download/package_download.h"

#include "support/test_server.h"
#include "ui/download_texts.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using test::httpResponse;

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
}

QByteArray package(qint64 size)
{
    QByteArray body(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i * 7 % 251);
    return body;
}

QByteArray redirectTo(const QUrl &location)
{
    return "HTTP/1.1 302 Found\r\nLocation: " + location.toEncoded() + "\r\nContent-Length: 0\r\n\r\n";
}

// A transfer ends with the received body placed in a directory of its own, or with the words
// of what refused it and nothing placed.
TEST(PackageDownload, PlacesWhatItReceivedInAPrivateDirectoryOfItsOwn)
{
    QTemporaryDir temporary;
    test::TestServer server, untrusted(test::TestServer::Chain::Untrusted);
    const QByteArray body = package(3 * MiB + 17);
    const struct {
        const char *name;
        QByteArray answer;
        bool progress; // a length was announced
        const char *refusal = nullptr; // nothing placed: these words, or any when empty
    } rows[] = {
        {"with a length", httpResponse(200, body), true},
        {"without a length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, false},
        {"redirected", redirectTo(QUrl(u"/elsewhere/other.zip"_s)), true},
        // An error page is placed like a package; unpacking will refuse it.
        {"an error status", httpResponse(500, body), true},
        {"untrusted certificate", redirectTo(untrusted.url(u"/x.zip"_s)), false, ""},
        // Refused before any connection: following it would have failed differently.
        {"redirect to http", redirectTo(QUrl(u"http://127.0.0.1:9/x.zip"_s)), false, "Insecure redirect"},
    };
    server.serve(u"/elsewhere/other.zip"_s, {httpResponse(200, body)});
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        server.serve(u"/updates/Q-1.4.2-mac.zip"_s, {row.answer});
        PackageDownload download(temporary.path());
        QSignalSpy progress(&download, &PackageDownload::progress);
        QSignalSpy finished(&download, &PackageDownload::finished);
        download.start(server.url(u"/updates/Q-1.4.2-mac.zip"_s), {});
        ASSERT_TRUE(finished.wait(10000));
        const auto result = finished.first().first().value<DownloadResult>();
        if (row.refusal) {
            EXPECT_FALSE(result.errorDescription.value_or(QString()).isEmpty());
            if (*row.refusal) {
                EXPECT_EQ(result.errorDescription, QString::fromUtf8(row.refusal));
            }
            EXPECT_FALSE(result.placedFile);
            continue;
        }
        ASSERT_TRUE(result.placedFile) << result.errorDescription.value_or(QString()).toStdString();
        // Named after the URL first asked for, in a private directory of its own.
        QFile file(*result.placedFile);
        const QFileInfo directory(QFileInfo(file).path());
        EXPECT_EQ(QFileInfo(file).fileName(), u"Q-1.4.2-mac.zip"_s);
        EXPECT_EQ(directory.path(), temporary.path());
        EXPECT_EQ(directory.permissions() & 0x0077, 0); // nothing for group or others
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == body);
        // The last notice is the whole length, when a length was announced.
        const QList<QVariant> last = progress.isEmpty() ? QList<QVariant>() : progress.last();
        EXPECT_EQ(last, row.progress ? (QList<QVariant>{body.size(), body.size()}) : QList<QVariant>());
    }
    // A directory for each placed package only, and no temporary file is left behind.
    EXPECT_EQ(QDir(temporary.path()).entryList({u"quillmere-installer-*"_s}, QDir::Dirs).size(), 4);
    EXPECT_EQ(QDir(temporary.path()).entryList({u"quillmere-download-*"_s}, QDir::Files), QStringList());
}

}  // namespace
}  // namespace quillmere
