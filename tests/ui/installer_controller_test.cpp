#include "ui/installer_controller.h"

#include "support/alerts.h"
#include "support/controls.h"
#include "support/products.h"
#include "ui/spinner.h"

#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using test::control;
using test::textOf;

TEST(InstallerController, ShowFailureReportsInTheWindowAndInAModalPlainTextAlert)
{
    // The message must not turn into a link: it could be a tool's output.
    const QString message = u"<a href=\"https://x.example/\">点我</a>"_s;
    InstallerController controller(test::offlineProduct());
    control<QProgressBar>(controller, "progress")->show();
    control<Spinner>(controller, "spinner")->startAnimation();
    auto *action = control<QPushButton>(controller, "actionButton");
    action->setEnabled(false);

    test::AlertDismisser dismisser;
    controller.showFailure(message);
    // The alert was modal and was dismissed before showFailure returned.
    const test::SeenAlert alert = dismisser.seen().value_or(test::SeenAlert{});
    EXPECT_EQ(alert.text, u"安装未完成"_s);
    EXPECT_EQ(alert.informativeText, message);
    EXPECT_EQ(alert.informativeFormat, Qt::PlainText);
    EXPECT_EQ(alert.buttons, QStringList{u"好"_s});

    EXPECT_EQ(textOf(controller, "statusLabel"), u"安装未完成"_s);
    EXPECT_EQ(textOf(controller, "detailLabel"), message);
    EXPECT_EQ(action->text(), u"重试"_s);
    EXPECT_TRUE(action->isEnabled());
    EXPECT_FALSE(control<Spinner>(controller, "spinner")->isAnimating());
    EXPECT_FALSE(controller.working());
    // The bar is left as it was: after a failed installation it stays full.
    EXPECT_FALSE(control<QProgressBar>(controller, "progress")->isHidden());
}

TEST(InstallerController, CancelAndCloseAskToQuitWithoutAlert)
{
    InstallerController controller(test::offlineProduct());
    QSignalSpy quit(&controller, &InstallerController::terminateRequested);
    test::AlertDismisser alert;
    control<QPushButton>(controller, "cancelButton")->click();
    controller.cancel();
    controller.closeWindow();
    EXPECT_EQ(quit.count(), 3);
    EXPECT_FALSE(alert.seen());
}

}  // namespace
}  // namespace quillmere
