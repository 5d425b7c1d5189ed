#include "ui/installer_window.h"

#include "support/controls.h"
#include "ui/spinner.h"

#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

void showAndSettle(InstallerWindow &window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();  // let label changes re-run the layout
}

class InstallerWindowGeometry : public ::testing::TestWithParam<std::pair<QString, QString>> {};

// Where the window's constraints put each view, with a long name or a detail that wraps.
// Every position is exact; centre lines may differ by the half pixel that rounding gives.
TEST_P(InstallerWindowGeometry, ViewsSitWhereTheConstraintsPutThem)
{
    InstallerWindow window(GetParam().first);
    EXPECT_EQ(window.windowTitle(), u"安装 "_s + GetParam().first);
    EXPECT_FALSE(window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(test::control<QLabel>(&window, "iconView")->pixmap().isNull());
    EXPECT_TRUE(window.actionButton()->isDefault());
    EXPECT_TRUE(window.progress()->isHidden());
    window.detailLabel()->setText(GetParam().second);
    window.progress()->show();
    showAndSettle(window);
    EXPECT_FALSE(window.spinner()->isVisible());  // shown only while it turns
    window.spinner()->startAnimation();
    const auto frame = [&](const char *name) { return test::control<QWidget>(&window, name)->geometry(); };
    const QRect icon = frame("iconView"), title = frame("titleLabel");
    const QRect status = frame("statusLabel"), detail = frame("detailLabel");
    const QRect bar = frame("progress"), spin = frame("spinner");
    const QRect action = frame("actionButton"), cancel = frame("cancelButton");
    const auto centreY = [](const QRect &r) { return r.y() + r.height() / 2.0; };

    EXPECT_EQ(window.rect().size(), QSize(520, 330));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(icon, QRect(24, 28, 56, 56));
    EXPECT_EQ(title.x(), icon.x() + icon.width() + 16);
    EXPECT_NEAR(centreY(title), centreY(icon), 1.0);
    EXPECT_LE(title.x() + title.width(), 520 - 24);
    for (const QRect &row : {status, detail, bar})
        EXPECT_EQ(std::pair(row.x(), row.width()), std::pair(24, 520 - 48));
    EXPECT_EQ(status.y(), icon.y() + icon.height() + 22);
    EXPECT_EQ(detail.y(), status.y() + status.height() + 8);
    EXPECT_GE(detail.height(), window.detailLabel()->heightForWidth(detail.width()));  // every line shows
    EXPECT_EQ(bar.y(), detail.y() + detail.height() + 14);
    EXPECT_EQ(bar.height(), 8);
    // The spinner draws over the bar's left end.
    EXPECT_EQ(spin.topLeft(), QPoint(24, detail.y() + detail.height() + 10));
    EXPECT_TRUE(spin.intersects(bar));
    EXPECT_GT(window.children().indexOf(window.spinner()), window.children().indexOf(window.progress()));
    EXPECT_EQ(cancel, QRect(520 - 24 - 90, 330 - 20 - cancel.height(), 90, cancel.height()));
    EXPECT_EQ(action.x() + action.width(), cancel.x() - 10);
    EXPECT_EQ(action.width(), 120);
    EXPECT_NEAR(centreY(action), centreY(cancel), 1.0);
    window.spinner()->stopAnimation();
    EXPECT_FALSE(window.spinner()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, InstallerWindowGeometry,
    ::testing::Values(
        std::pair(u"Quillmere Desktop with a product name far too long to fit in the window"_s, u"短"_s),
        std::pair(u"Quillmere Desktop"_s, QString(200, QChar(u'字')))),
    [](const auto &info) { return std::string(info.index == 0 ? "LongName" : "WrappedDetail"); });

TEST(InstallerWindow, ReturnPressesThePrimaryButtonOnlyWhileEnabledEscapeAlwaysCancels)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    showAndSettle(window);
    QSignalSpy pressed(window.actionButton(), &QPushButton::clicked);
    QSignalSpy cancelled(window.cancelButton(), &QPushButton::clicked);
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        pressed.clear();
        cancelled.clear();
        window.actionButton()->setEnabled(enabled);
        QTest::keyClick(&window, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_EQ(pressed.count(), enabled ? 2 : 0);
        EXPECT_EQ(cancelled.count(), 1);
    }
}

}  // namespace
}  // namespace quillmere
