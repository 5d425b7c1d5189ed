#include "ui/installer_controller.h"

#include "support/alerts.h"
#include "support/products.h"
#include "ui/spinner.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// A controller whose server nobody listens on; the tests here never reach the network.
class InstallerControllerTest : public ::testing::Test {
protected:
    InstallerController controller{test::productFor(QUrl(u"https://127.0.0.1:9/updates/"_s),
                                                    u"/nonexistent"_s)};
    QWidget *window = controller.windowWidget();

    template <typename T> T *view(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QString status() const { return view<QLabel>("statusLabel")->text(); }
    QString detail() const { return view<QLabel>("detailLabel")->text(); }
    QPushButton *action() const { return view<QPushButton>("actionButton"); }
};

TEST_F(InstallerControllerTest, ShowFailureReportsInTheWindowAndInAModalAlert)
{
    const QString message = u"下载的文件不完整，请重试。"_s;
    view<QProgressBar>("progress")->show();
    view<Spinner>("spinner")->startAnimation();
    action()->setEnabled(false);

    test::AlertDismisser alert;
    controller.showFailure(message);

    // The alert was modal and was dismissed before showFailure returned.
    ASSERT_TRUE(alert.seen());
    EXPECT_EQ(alert.seen()->text, u"安装未完成"_s);
    EXPECT_EQ(alert.seen()->informativeText, message);
    EXPECT_EQ(alert.seen()->buttons, QStringList{u"好"_s});

    EXPECT_EQ(status(), u"安装未完成"_s);
    EXPECT_EQ(detail(), message);
    EXPECT_EQ(action()->text(), u"重试"_s);
    EXPECT_TRUE(action()->isEnabled());
    EXPECT_FALSE(view<Spinner>("spinner")->isAnimating());
    EXPECT_FALSE(controller.working());
    // The bar is left as it was: after a failed installation it stays full.
    EXPECT_FALSE(view<QProgressBar>("progress")->isHidden());
    EXPECT_FALSE(controller.currentRelease());
}

TEST_F(InstallerControllerTest, CancelAndEscapeAndCloseAskToQuitWithoutAlert)
{
    QSignalSpy quit(&controller, &InstallerController::terminateRequested);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    view<QPushButton>("cancelButton")->click();
    QTest::keyClick(window, Qt::Key_Escape);
    controller.cancel();
    controller.closeWindow();
    EXPECT_EQ(quit.count(), 4);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace quillmere
