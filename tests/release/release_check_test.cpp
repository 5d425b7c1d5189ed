#include "ui/installer_controller.h"

#include "support/alerts.h"
#include "support/bundles.h"
#include "support/controls.h"
#include "support/products.h"
#include "support/test_server.h"
#include "system/transfer.h"
#include "ui/spinner.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::Answer;
using test::control;
using test::httpResponse;
using test::textOf;

const QByteArray manifest =
    "version: 1.4.2\nfiles:\n  - url: Quillmere-Desktop-1.4.2-arm64-mac.zip\n    size: 157286400\n";
const QString manifestPath = u"/updates/latest-mac.yml"_s;
const QString checkFailed = u"无法获取版本信息："_s;  // followed by the network layer's words
// The manifest's answer up to 20 bytes before its end, then a reset.
const qsizetype partWay = httpResponse(200, manifest).size() - 20;
const Answer resetPartWay{httpResponse(200, manifest), Answer::End::Reset, 0ms, partWay};

class ReleaseCheck : public ::testing::Test {
protected:
    // A controller whose server folder is `base`, by default the test server's /updates/.
    std::unique_ptr<InstallerController> makeController(const QUrl &base = {})
    {
        auto controller = std::make_unique<InstallerController>(test::productFor(
            base.isEmpty() ? server.url(u"/updates/"_s) : base, installFolder.path()));
        controller->setNetworkTimeout(2s);
        return controller;
    }
    // Starts a check and waits until it has ended; returns the alert it raised, if any.
    std::optional<test::SeenAlert> check(InstallerController &controller)
    {
        test::AlertDismisser alert;
        controller.fetchMetadata();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.working(); }, 10000));
        return alert.seen();
    }
    static QPushButton *button(const InstallerController &c) { return control<QPushButton>(c, "actionButton"); }

    QTemporaryDir installFolder;
    test::TestServer server;
};

// The choice among install, update and reinstall is the offer's; here the window shows it for
// the copy it read. An answer with an error status is read like any other.
TEST_F(ReleaseCheck, OffersTheReleaseForTheInstalledCopy)
{
    ASSERT_TRUE(test::writeBundle(installFolder.filePath(u"Quillmere Desktop.app"_s),
                                  test::stringPlist("CFBundleShortVersionString", u"1.3.0\n"_s)));
    server.serve(manifestPath, {httpResponse(500, manifest)});
    auto controller = makeController();
    EXPECT_FALSE(check(*controller));
    EXPECT_EQ(textOf(*controller, "statusLabel"), u"可以更新：1.3.0 → 1.4.2"_s);
    EXPECT_EQ(textOf(*controller, "detailLabel"), u"Quillmere-Desktop-1.4.2-arm64-mac.zip · 150 MB"_s);
    EXPECT_EQ(button(*controller)->text(), u"更新"_s);
    EXPECT_TRUE(button(*controller)->isEnabled());
    EXPECT_FALSE(control<Spinner>(*controller, "spinner")->isAnimating());
    EXPECT_EQ(controller->currentRelease().value_or(Release{}).zipURL,
              server.url(u"/updates/Quillmere-Desktop-1.4.2-arm64-mac.zip"_s));
    EXPECT_TRUE(server.requests().value(0).head.toLower().contains("\r\ncache-control: no-cache\r\n"));
}

TEST_F(ReleaseCheck, FailuresEndInAnAlert)
{
    test::TestServer untrusted(test::TestServer::Chain::Untrusted);
    // An http redirect target must never be followed, whatever answers there.
    QUrl plain = server.url(manifestPath);
    plain.setScheme(u"http"_s);
    const QString badManifest = u"版本信息格式不正确，请稍后重试。"_s;
    const struct {
        const char *name;
        Answer answer;    // for the manifest on the test server
        QString message;  // checkFailed alone: any description follows it
        QUrl base = {};   // the test server's by default
    } rows[] = {
        {"404 page", {httpResponse(404, "<html><body>Not Found</body></html>")}, badManifest},
        {"empty body", {httpResponse(200, "")}, badManifest},
        {"not UTF-8", {httpResponse(200, "version: 1.4.2\n  - url: caf\xe9.zip\n")}, badManifest},
        {"reset part-way", resetPartWay, checkFailed},
        {"stalled part-way", {httpResponse(200, manifest), Answer::End::Stall, 0ms, partWay},
         checkFailed + timeoutDescription()},
        {"redirect to http", {httpResponse(302, "", "Location: " + plain.toEncoded() + "\r\n")}, checkFailed},
        {"refused", {}, checkFailed, QUrl(u"https://127.0.0.1:9/updates/"_s)},
        {"untrusted certificate", {}, checkFailed, untrusted.url(u"/updates/"_s)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        server.serve(manifestPath, row.answer);
        auto controller = makeController(row.base);
        const QString message = check(*controller).value_or(test::SeenAlert{}).informativeText;
        if (row.message == checkFailed) {
            EXPECT_TRUE(message.startsWith(checkFailed) && message.size() > checkFailed.size())
                << message.toStdString();
        } else {
            EXPECT_EQ(message, row.message);
        }
        EXPECT_FALSE(controller->currentRelease());
    }
    EXPECT_TRUE(untrusted.requests().isEmpty());  // the handshake failed before any request
}

TEST_F(ReleaseCheck, RetryAfterAFailedCheckStartsANewOne)
{
    for (const Answer &failing : {Answer{httpResponse(404, "gone")}, resetPartWay}) {
        SCOPED_TRACE(failing.end == Answer::End::Reset ? "after a reset" : "after a 404");
        server.serve(manifestPath, failing);
        auto controller = makeController();
        EXPECT_TRUE(check(*controller));
        server.serve(manifestPath, {httpResponse(200, manifest)});
        button(*controller)->click();
        EXPECT_EQ(textOf(*controller, "statusLabel"), u"正在获取最新版本…"_s);
        EXPECT_EQ(button(*controller)->text(), u"安装"_s);
        EXPECT_FALSE(button(*controller)->isEnabled());
        EXPECT_TRUE(control<Spinner>(*controller, "spinner")->isAnimating());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->working(); }, 10000));
        EXPECT_EQ(textOf(*controller, "statusLabel"), u"最新版本 1.4.2"_s);
    }
}

TEST_F(ReleaseCheck, PrimaryActionIsIgnoredWhileChecking)
{
    server.serve(manifestPath, {httpResponse(200, manifest), Answer::End::Close, 300ms});
    auto controller = makeController();
    controller->fetchMetadata();
    controller->primaryAction();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->working(); }, 10000));
    EXPECT_EQ(server.requests().size(), 1);  // no second check was started
}

TEST_F(ReleaseCheck, AnswerAfterTheControllerIsGoneRaisesNoAlert)
{
    server.serve(manifestPath, {httpResponse(404, "gone"), Answer::End::Close, 300ms});
    test::AlertDismisser alert;
    auto controller = makeController();
    controller->fetchMetadata();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.requests().isEmpty(); }, 5000));
    controller.reset();
    QTest::qWait(600);
    EXPECT_FALSE(alert.seen());
}

}  // namespace
}  // namespace quillmere
