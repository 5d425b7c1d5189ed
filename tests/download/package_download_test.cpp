#include "download/package_download.h"

#include "support/alerts.h"
#include "support/controls.h"
#include "support/products.h"
#include "support/test_server.h"
#include "system/transfer.h"
#include "ui/download_texts.h"
#include "ui/installer_controller.h"
#include "ui/progress_bar.h"

#include <QDir>
#include <QPushButton>
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

// The road from the offer to the placed package, through the real controller and window.
class Download : public ::testing::Test {
protected:
    // A new controller that offers the release whose package is at /updates/Q-1.4.2-mac.zip.
    void offer()
    {
        controller = std::make_unique<InstallerController>(
            test::productFor(server.url(u"/updates/"_s), temporary.filePath(u"Applications"_s)));
        controller->setNetworkTimeout(2s);
        controller->setTemporaryFolder(temporary.path());
        server.serve(u"/updates/latest-mac.yml"_s,
                     {httpResponse(200, "version: 1.4.2\n  - url: Q-1.4.2-mac.zip\n")});
        controller->fetchMetadata();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->working(); }, 10000));
        ASSERT_TRUE(controller->currentRelease());
    }
    // Presses the primary button and waits until the package is placed or an alert came.
    std::optional<test::SeenAlert> download()
    {
        test::AlertDismisser alert;
        control<QPushButton>("actionButton")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return controller->placedPackage() || alert.seen(); }, 15000));
        return alert.seen();
    }
    template <class T> T *control(const char *name) { return test::control<T>(*controller, name); }

    QTemporaryDir temporary;
    test::TestServer server;
    std::unique_ptr<InstallerController> controller;
};

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

TEST_F(Download, ReceivedPackagesArePlacedInAPrivateDirectoryOfTheirOwn)
{
    const QByteArray body = package(3 * MiB + 17);
    const struct {
        const char *name;
        QByteArray answer;
        bool progress; // a length was announced
    } rows[] = {
        {"with a length", httpResponse(200, body), true},
        {"without a length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, false},
        {"redirected", redirectTo(QUrl(u"/elsewhere/other.zip"_s)), true},
        // An error page is placed like a package; unpacking will refuse it.
        {"an error status", httpResponse(500, body), true},
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
    // Each transfer has its own directory, and no temporary file is left behind.
    EXPECT_EQ(QDir(temporary.path()).entryList({u"quillmere-installer-*"_s}, QDir::Dirs).size(), 4);
    EXPECT_EQ(QDir(temporary.path()).entryList({u"quillmere-download-*"_s}, QDir::Files), QStringList());
}

TEST_F(Download, FailuresEndTheBusyStateAndTheRetryStartsAfresh)
{
    const QByteArray whole = httpResponse(200, package(2 * MiB));
    test::TestServer untrusted(test::TestServer::Chain::Untrusted);
    untrusted.serve(u"/updates/Q-1.4.2-mac.zip"_s, {whole});
    const struct {
        const char *name;
        Answer answer;
        std::optional<QString> description; // absent: whatever the network layer says
        std::chrono::milliseconds totalLimit{30s};
    } rows[] = {
        {"reset part-way", {whole, Answer::End::Reset, 0ms, MiB}, std::nullopt},
        {"closed part-way", {whole, Answer::End::Close, 0ms, MiB}, std::nullopt},
        {"stalled", {whole, Answer::End::Stall, 0ms, MiB}, timeoutDescription()},
        {"over the total limit", {whole, Answer::End::Stall, 0ms, MiB}, timeoutDescription(), 500ms},
        {"untrusted certificate", {redirectTo(untrusted.url(u"/updates/Q-1.4.2-mac.zip"_s))}, std::nullopt},
        {"redirect to http", {redirectTo(QUrl(u"http://127.0.0.1:9/x.zip"_s))}, std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        server.serve(u"/updates/Q-1.4.2-mac.zip"_s, row.answer);
        offer();
        controller->setNetworkTimeout(row.totalLimit < 30s ? 30s : 1s);
        controller->setDownloadTimeLimit(row.totalLimit);
        const auto alert = download();
        const QString message = alert.value_or(test::SeenAlert{}).informativeText;
        if (row.description) {
            EXPECT_EQ(message, u"下载失败："_s + *row.description);
        } else {
            EXPECT_TRUE(message.startsWith(u"下载失败："_s) && message.size() > 5) << message.toStdString();
        }
        EXPECT_TRUE(control<ProgressBar>("progress")->isHidden());
        EXPECT_FALSE(controller->placedPackage());
    }
    // The retry downloads the same release again, now from a healthy server, and hands it to
    // staging, which refuses what is not a zip.
    server.serve(u"/updates/Q-1.4.2-mac.zip"_s, {whole});
    controller->setDownloadTimeLimit(30s);
    const qsizetype asked = server.requests().size();
    const auto alert = download();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->informativeText, u"解压失败，安装包可能未下载完整。请重试。"_s);
    EXPECT_TRUE(controller->placedPackage());
    EXPECT_EQ(server.requests().size(), asked + 1);
}

TEST_F(Download, CancelEndsTheApplicationWithoutAnAlert)
{
    server.serve(u"/updates/Q-1.4.2-mac.zip"_s,
                 {httpResponse(200, package(2 * MiB)), Answer::End::Stall, 0ms, MiB});
    offer();
    QSignalSpy quit(controller.get(), &InstallerController::terminateRequested);
    control<QPushButton>("actionButton")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return control<ProgressBar>("progress")->percentage() > 0; }, 10000));
    test::AlertDismisser alert;
    control<QPushButton>("cancelButton")->click();
    QTest::qWait(300);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(alert.seen());
    EXPECT_FALSE(controller->placedPackage());
}

}  // namespace
}  // namespace quillmere
