#include "app/app_delegate.h"

#include "support/controls.h"
#include "support/products.h"
#include "support/test_server.h"

#include <QSignalSpy>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// Shown in front with the check under way, all in the one launch step; then the offer; Ctrl+Q
// (Command-Q on the Mac, where the item moves to the application menu under its own title) quits.
TEST(AppDelegate, LaunchShowsTheWindowInFrontThenOffersTheRelease)
{
    test::TestServer server;
    server.serve(u"/updates/latest-mac.yml"_s,
                 {test::httpResponse(200, "version: 1.4.2\n  - url: Q-1.4.2-mac.zip\n"), test::Answer::End::Close, std::chrono::milliseconds(300)});
    AppDelegate delegate(test::productFor(server.url(u"/updates/"_s), u"/nonexistent"_s));
    QSignalSpy quit(&delegate, &AppDelegate::terminateRequested);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.controller(), nullptr);
    const InstallerController &controller = *delegate.controller();
    QWidget *window = controller.windowWidget();
    EXPECT_TRUE(window->isVisible() && test::textOf(controller, "statusLabel") == u"正在获取最新版本…"_s);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::textOf(controller, "statusLabel") == u"最新版本 1.4.2"_s; }, 5000));
    ASSERT_FALSE(window->actions().isEmpty()); // the quit item, reachable where no menu bar is shown
    EXPECT_EQ(std::pair(window->actions()[0]->text(), QCoreApplication::translate("MAC_APPLICATION_MENU", "Quit %1")),
              std::pair(u"退出安装器"_s, u"退出安装器"_s));
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
}

}  // namespace
}  // namespace quillmere
