#include "ui/installer_controller.h"

#include "release/offer.h"
#include "system/transfer.h"
#include "support/alerts.h"
#include "support/bundles.h"
#include "support/products.h"
#include "support/test_server.h"
#include "ui/spinner.h"

#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::Response;

const QByteArray manifest = "version: 1.4.2\n"
                            "files:\n"
                            "  - url: Quillmere-Desktop-1.4.2-arm64-mac.zip\n"
                            "    sha512: 9fQx1Z2c+Lw/Ab3dEe==\n"
                            "    size: 157286400\n";
const QString manifestPath = u"/updates/latest-mac.yml"_s;
const QString reinstallText = u"当前已是最新版本。重新安装会覆盖现有副本，登录状态与设置都会保留。"_s;

class ReleaseCheck : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(installFolder.isValid()); }

    // A controller whose server is `server` (or, when absent, a port nobody listens on).
    std::unique_ptr<InstallerController> makeController(const QUrl &base)
    {
        auto controller = std::make_unique<InstallerController>(
            test::productFor(base, installFolder.path()));
        controller->setNetworkTimeout(2s);
        return controller;
    }
    std::unique_ptr<InstallerController> makeController()
    {
        return makeController(server.url(u"/updates/"_s));
    }
    void installVersion(const QString &version)
    {
        ASSERT_TRUE(test::writeBundle(installFolder.path() + u"/Quillmere Desktop.app"_s,
                                      {{u"CFBundleShortVersionString"_s, version}}));
    }
    // Waits until the check has ended (an alert, if any, is dismissed by `alert`).
    static void waitForCheck(InstallerController &controller)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.working(); }, 10000));
    }

    static QString text(const InstallerController &c, const char *name)
    {
        return c.windowWidget()->findChild<QLabel *>(QString::fromLatin1(name))->text();
    }
    static QPushButton *button(const InstallerController &c)
    {
        return c.windowWidget()->findChild<QPushButton *>(u"actionButton"_s);
    }
    static bool spinning(const InstallerController &c)
    {
        return c.windowWidget()->findChild<Spinner *>(u"spinner"_s)->isAnimating();
    }

    QTemporaryDir installFolder;
    test::TestServer server;
};

TEST_F(ReleaseCheck, OffersInstallUpdateOrReinstall)
{
    const struct {
        const char *name;
        std::optional<QString> installed;
        QByteArray manifestVersion;
        QString status, detail, button;
    } rows[] = {
        {"not installed", std::nullopt, "1.4.2", u"最新版本 1.4.2"_s,
         u"Quillmere-Desktop-1.4.2-arm64-mac.zip · 150 MB"_s, u"安装"_s},
        {"same version", u"1.4.2"_s, "1.4.2", u"已安装 1.4.2"_s, reinstallText, u"重新安装"_s},
        {"trailing line break", u"1.4.2\n"_s, "1.4.2", u"已安装 1.4.2"_s, reinstallText, u"重新安装"_s},
        {"other version", u"1.3.0"_s, "1.4.2", u"可以更新：1.3.0 → 1.4.2"_s,
         u"Quillmere-Desktop-1.4.2-arm64-mac.zip · 150 MB"_s, u"更新"_s},
        {"quoted manifest version", u"1.4.2"_s, "'1.4.2'", u"可以更新：1.4.2 → '1.4.2'"_s,
         u"Quillmere-Desktop-1.4.2-arm64-mac.zip · 150 MB"_s, u"更新"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QDir(installFolder.path() + u"/Quillmere Desktop.app"_s).removeRecursively();
        if (row.installed)
            installVersion(*row.installed);
        QByteArray body = manifest;
        body.replace("version: 1.4.2", "version: " + row.manifestVersion);
        server.expect(manifestPath, Response::ok(body));
        auto controller = makeController();

        controller->fetchMetadata();
        EXPECT_EQ(text(*controller, "statusLabel"), u"正在获取最新版本…"_s);
        EXPECT_EQ(button(*controller)->text(), u"安装"_s);
        EXPECT_FALSE(button(*controller)->isEnabled());
        EXPECT_TRUE(spinning(*controller));
        EXPECT_TRUE(controller->working());

        waitForCheck(*controller);
        EXPECT_EQ(text(*controller, "statusLabel"), row.status);
        EXPECT_EQ(text(*controller, "detailLabel"), row.detail);
        EXPECT_EQ(button(*controller)->text(), row.button);
        EXPECT_TRUE(button(*controller)->isEnabled());
        EXPECT_FALSE(spinning(*controller));
        ASSERT_TRUE(controller->currentRelease());
        EXPECT_EQ(controller->currentRelease()->zipURL,
                  server.url(u"/updates/Quillmere-Desktop-1.4.2-arm64-mac.zip"_s));
    }
    for (const test::Request &request : server.requests())
        EXPECT_EQ(request.header("Cache-Control"), "no-cache");
}

TEST_F(ReleaseCheck, AnswersAreReadWhateverTheirStatus)
{
    // Latin-1 bytes: "café" is not UTF-8.
    const QByteArray latin1 = "version: 1.4.2\n  - url: caf\xe9.zip\n";
    const struct {
        const char *name;
        Response response;
        bool offered;
    } rows[] = {
        {"404 page", {.status = 404, .body = "<html><body>Not Found</body></html>"}, false},
        {"empty body", Response::ok(""), false},
        {"not UTF-8", Response::ok(latin1), false},
        {"manifest behind a 500", {.status = 500, .body = manifest}, true},
        {"no length, closed", {.body = manifest, .framing = Response::Framing::CloseDelimited}, true},
        {"chunked", {.body = manifest, .framing = Response::Framing::Chunked}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        server.expect(manifestPath, row.response);
        auto controller = makeController();
        test::AlertDismisser alert;
        controller->fetchMetadata();
        waitForCheck(*controller);
        EXPECT_EQ(controller->currentRelease().has_value(), row.offered);
        if (row.offered) {
            EXPECT_EQ(text(*controller, "statusLabel"), u"最新版本 1.4.2"_s);
            EXPECT_FALSE(alert.seen());
        } else {
            ASSERT_TRUE(alert.seen());
            EXPECT_EQ(alert.seen()->informativeText, u"版本信息格式不正确，请稍后重试。"_s);
            EXPECT_EQ(text(*controller, "detailLabel"), u"版本信息格式不正确，请稍后重试。"_s);
        }
    }
}

TEST_F(ReleaseCheck, NoAnswerIsANetworkFailure)
{
    test::TestServer untrusted(test::TestServer::Chain::Untrusted);
    // A port that was free a moment ago: nothing listens there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    QUrl refused(u"https://127.0.0.1/updates/"_s);
    refused.setPort(closedPort);
    // An http redirect target must never be followed, whatever answers there.
    QUrl plain = server.url(u"/elsewhere/latest-mac.yml"_s);
    plain.setScheme(u"http"_s);

    const struct {
        const char *name;
        QUrl base;
        std::optional<QString> exactDescription;
    } rows[] = {
        {"refused", refused, std::nullopt},
        {"untrusted certificate", untrusted.url(u"/updates/"_s), std::nullopt},
        {"reset part-way", server.url(u"/updates/"_s), std::nullopt},
        {"redirect to http", server.url(u"/insecure/"_s), std::nullopt},
        {"stalled", server.url(u"/stalled/"_s), timeoutDescription()},
    };
    server.expect(manifestPath, {.body = manifest, .resetAfter = 10});
    // Qt may repeat the first request of a redirect; only that it came matters.
    server.expect(u"/insecure/latest-mac.yml"_s, Response::redirect(plain), test::TestServer::AtLeastOnce);
    server.expect(u"/stalled/latest-mac.yml"_s, {.body = manifest, .stallAfter = 5});
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto controller = makeController(row.base);
        test::AlertDismisser alert;
        controller->fetchMetadata();
        waitForCheck(*controller);
        ASSERT_TRUE(alert.seen());
        const QString message = alert.seen()->informativeText;
        EXPECT_TRUE(message.startsWith(u"无法获取版本信息："_s)) << message.toStdString();
        EXPECT_GT(message.size(), QString(u"无法获取版本信息："_s).size());
        if (row.exactDescription) {
            EXPECT_EQ(message, u"无法获取版本信息："_s + *row.exactDescription);
        }
        EXPECT_EQ(text(*controller, "detailLabel"), message);
        EXPECT_EQ(text(*controller, "statusLabel"), u"安装未完成"_s);
        EXPECT_EQ(button(*controller)->text(), u"重试"_s);
        EXPECT_FALSE(controller->currentRelease());
    }
    EXPECT_TRUE(untrusted.requests().isEmpty()); // the handshake failed before any request
}

TEST_F(ReleaseCheck, RetryAfterAFailedCheckStartsANewOne)
{
    server.expect(manifestPath, {.status = 404, .body = "gone"});
    server.expect(manifestPath, Response::ok(manifest));
    auto controller = makeController();
    {
        test::AlertDismisser alert;
        controller->fetchMetadata();
        waitForCheck(*controller);
        ASSERT_TRUE(alert.seen());
    }
    button(*controller)->click();
    EXPECT_EQ(text(*controller, "statusLabel"), u"正在获取最新版本…"_s);
    EXPECT_EQ(button(*controller)->text(), u"安装"_s);
    EXPECT_FALSE(button(*controller)->isEnabled());
    waitForCheck(*controller);
    EXPECT_EQ(text(*controller, "statusLabel"), u"最新版本 1.4.2"_s);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST_F(ReleaseCheck, PrimaryActionIsIgnoredWhileChecking)
{
    server.expect(manifestPath, {.body = manifest, .delay = 500ms});
    auto controller = makeController();
    QWidget *window = controller->windowWidget();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    controller->fetchMetadata();

    controller->primaryAction();
    button(*controller)->setEnabled(true); // even a click that got through changes nothing
    button(*controller)->click();
    button(*controller)->setEnabled(false);
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_EQ(text(*controller, "statusLabel"), u"正在获取最新版本…"_s);
    EXPECT_TRUE(controller->working());

    waitForCheck(*controller);
    EXPECT_EQ(server.requests().size(), 1); // no second check was started
}

TEST_F(ReleaseCheck, AnswerAfterTheControllerIsGoneIsIgnored)
{
    server.expect(manifestPath, {.body = manifest, .delay = 300ms});
    auto controller = makeController();
    controller->fetchMetadata();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.requests().isEmpty(); }, 5000));
    controller.reset();
    QTest::qWait(600);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace quillmere
