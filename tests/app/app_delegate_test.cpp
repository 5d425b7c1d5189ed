#include "app/app_delegate.h"

#include "support/controls.h"
#include "support/products.h"
#include "support/test_server.h"

#include <QAction>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(AppDelegate, MenuHoldsOneQuitItemTitledInChineseWherePlatformsPutTheirOwn)
{
    AppDelegate delegate(test::productFor(QUrl(u"https://127.0.0.1:9/updates/"_s), u"/nonexistent"_s));
    const QList<QAction *> menus = delegate.menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    ASSERT_NE(menus.first()->menu(), nullptr);
    const QList<QAction *> items = menus.first()->menu()->actions();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first()->text(), u"退出安装器"_s);
    EXPECT_EQ(items.first()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(items.first()->menuRole(), QAction::QuitRole);
    // The title macOS gives the moved item, and nothing else.
    EXPECT_EQ(QCoreApplication::translate("MAC_APPLICATION_MENU", "Quit %1"), u"退出安装器"_s);
    EXPECT_EQ(QCoreApplication::translate("QMenuBar", "Quit %1"), u"退出安装器"_s);
    EXPECT_EQ(QCoreApplication::translate("QAbstractSocket", "Socket operation timed out"),
              u"Socket operation timed out"_s);
}

TEST(AppDelegate, LaunchShowsTheWindowInFrontThenOffersTheRelease)
{
    using namespace std::chrono_literals;
    test::TestServer server;
    server.serve(u"/updates/latest-mac.yml"_s,
                 {test::httpResponse(200, "version: 1.4.2\n  - url: Q-1.4.2-mac.zip\n    size: 157286400\n"),
                  test::Answer::End::Close, 300ms});
    AppDelegate delegate(test::productFor(server.url(u"/updates/"_s), u"/nonexistent"_s));
    QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.controller(), nullptr);
    const InstallerController &controller = *delegate.controller();
    QWidget *window = controller.windowWidget();
    // Shown and the check started, all in the one launch step.
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(test::textOf(controller, "statusLabel"), u"正在获取最新版本…"_s);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    EXPECT_TRUE(QTest::qWaitFor([&] { return test::textOf(controller, "statusLabel") == u"最新版本 1.4.2"_s; }, 5000));
    EXPECT_EQ(test::textOf(controller, "detailLabel"), u"Q-1.4.2-mac.zip · 150 MB"_s);
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
}

TEST(AppDelegate, NetworkDescriptionsReadInTheUsersLanguage)
{
    QTranslator *chinese = loadPlatformTranslations(QLocale(QLocale::Chinese, QLocale::China));
    ASSERT_NE(chinese, nullptr) << "Qt's translations are missing from "
                                << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
    const QString timeout = QCoreApplication::translate("QAbstractSocket", "Socket operation timed out");
    QCoreApplication::removeTranslator(chinese);
    delete chinese;
    EXPECT_TRUE(timeout.contains(u"超时"_s)) << timeout.toStdString();
}

}  // namespace
}  // namespace quillmere
