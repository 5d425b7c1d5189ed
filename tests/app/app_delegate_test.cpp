#include "app/app_delegate.h"

#include "support/products.h"
#include "support/test_server.h"
#include "ui/installer_controller.h"

#include <QAction>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(AppDelegate, MenuHoldsOneQuitItem)
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
}

TEST(AppDelegate, LaunchShowsTheWindowInFrontThenOffersTheRelease)
{
    using namespace std::chrono_literals;
    test::TestServer server;
    server.expect(u"/updates/latest-mac.yml"_s,
                  {.body = "version: 1.4.2\n  - url: Q-1.4.2-mac.zip\n    size: 157286400\n",
                   .delay = 300ms});
    AppDelegate delegate(test::productFor(server.url(u"/updates/"_s), u"/nonexistent"_s));
    QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.controller(), nullptr);
    QWidget *window = delegate.controller()->windowWidget();
    auto *status = window->findChild<QLabel *>(u"statusLabel"_s);
    // Shown and the check started, all in the one launch step.
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(status->text(), u"正在获取最新版本…"_s);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    EXPECT_TRUE(QTest::qWaitFor([&] { return status->text() == u"最新版本 1.4.2"_s; }, 5000));
    EXPECT_EQ(window->findChild<QLabel *>(u"detailLabel"_s)->text(), u"Q-1.4.2-mac.zip · 150 MB"_s);
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
    EXPECT_NE(timeout, u"Socket operation timed out"_s);
    EXPECT_TRUE(timeout.contains(u"超时"_s)) << timeout.toStdString();
}

}  // namespace
}  // namespace quillmere
