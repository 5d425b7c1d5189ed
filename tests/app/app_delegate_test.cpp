#include "app/app_delegate.h"

#include "support/products.h"
#include "ui/installer_controller.h"

#include <QAction>
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

TEST(AppDelegate, LaunchShowsTheWindowInFrontAndQuitShortcutWorks)
{
    AppDelegate delegate(test::productFor(QUrl(u"https://127.0.0.1:9/updates/"_s), u"/nonexistent"_s));
    QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.controller(), nullptr);
    QWidget *window = delegate.controller()->windowWidget();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
}

}  // namespace
}  // namespace quillmere
