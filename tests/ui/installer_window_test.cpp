#include "ui/installer_window.h"

#include "support/controls.h"
#include "ui/spinner.h"

#include <QAccessible>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// What a screen reader gets from each view, asked the way it asks: through Qt's accessibility
// interfaces, while a download runs. The bar's interface is fetched before the texts change,
// so it must read them when asked. The buttons take no focus: the keys reach them.
TEST(InstallerWindow, LayoutScreenReadersAndKeys)
{
    const QString product = u"Quillmere Desktop with a product name far too long to fit in the window"_s;
    InstallerWindow window(product);
    window.progress()->show();
    window.spinner()->startAnimation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto accessible = [&](const char *name) {
        return QAccessible::queryAccessibleInterface(*name ? test::control<QWidget>(&window, name) : &window);
    };
    QAccessibleInterface *barReader = accessible("progress");
    window.progress()->setPercentage(41.6);
    window.statusLabel()->setText(u"正在下载 1.4.2…"_s);
    const std::tuple<const char *, QAccessible::Role, QString, QString, QString> rows[] = { // view: name, description, value
        {"", QAccessible::Client, u"安装 "_s + product, u"下载并安装 "_s + product + u" 的最新版本。"_s, {}},
        {"iconView", QAccessible::Graphic, u"安装器图标"_s, {}, {}},
        {"statusLabel", QAccessible::StaticText, u"正在下载 1.4.2…"_s, u"当前状态"_s, {}},
        {"detailLabel", QAccessible::StaticText, u"安装完成后会自动打开。旧版本会被移到废纸篓。"_s, u"详细说明"_s, {}},
        {"progress", QAccessible::ProgressBar, u"下载进度"_s, u"正在下载 1.4.2…"_s, u"42%"_s},
        {"spinner", QAccessible::ProgressBar, u"正在处理"_s, u"安装器正在工作，请稍候。"_s, {}},
        {"actionButton", QAccessible::Button, u"安装"_s, u"执行按钮上所写的操作，也可以按回车键。"_s, {}},
        {"cancelButton", QAccessible::Button, u"取消"_s, u"退出安装器，正在进行的下载会停止；也可以按 Esc 键。"_s, {}},
    };
    for (const auto &[name, role, text, description, value] : rows) {
        QAccessibleInterface *view = accessible(name);
        ASSERT_TRUE(view) << name;
        EXPECT_EQ(std::tuple(view->role(), view->text(QAccessible::Name), view->text(QAccessible::Description),
                             view->text(QAccessible::Value), view->state().invisible, view->state().busy),
                  std::tuple(role, text, description, value, false, std::string_view(name) == "spinner"))
            << name;
    }
    EXPECT_EQ(barReader->valueInterface() ? barReader->valueInterface()->currentValue() : QVariant(), 42);

    // What the layout computes, with a name too long for the window and a detail that wraps: the
    // title clipped at the margin, every line of the detail shown with the bar (and the spinner over
    // its left end) below it, the buttons anchored to the bottom right. Centre lines may differ by
    // the half pixel that rounding gives.
    window.detailLabel()->setText(QString(200, QChar(u'字')));
    QCoreApplication::processEvents();  // let the label change re-run the layout
    const auto frame = [&](const char *name) { return test::control<QWidget>(&window, name)->geometry(); };
    const QRect icon = frame("iconView"), title = frame("titleLabel"), detail = frame("detailLabel");
    const QRect bar = frame("progress"), spin = frame("spinner"), action = frame("actionButton"), cancel = frame("cancelButton");
    const auto centreY = [](const QRect &r) { return r.y() + r.height() / 2.0; };

    EXPECT_EQ(std::pair(window.rect().size(), icon), std::pair(QSize(520, 330), QRect(24, 28, 56, 56)));
    EXPECT_EQ(std::pair(title.x(), title.x() + title.width()), std::pair(icon.x() + icon.width() + 16, 520 - 24));
    EXPECT_LE(std::max(std::abs(centreY(title) - centreY(icon)), std::abs(centreY(action) - centreY(cancel))), 1.0);
    EXPECT_EQ(detail.width(), 520 - 48);
    EXPECT_GE(detail.height(), window.detailLabel()->heightForWidth(detail.width()));
    const int belowDetail = detail.y() + detail.height();
    EXPECT_EQ(std::pair(bar, spin.topLeft()), std::pair(QRect(24, belowDetail + 14, 520 - 48, 8), QPoint(24, belowDetail + 10)));
    EXPECT_GT(window.children().indexOf(window.spinner()), window.children().indexOf(window.progress()));
    EXPECT_EQ(std::pair(cancel, action.x() + action.width()),
              std::pair(QRect(520 - 24 - 90, 330 - 20 - cancel.height(), 90, cancel.height()), cancel.x() - 10));
    window.spinner()->stopAnimation();
    const QAccessible::State stopped = accessible("spinner")->state();
    EXPECT_EQ((std::pair<bool, bool>(stopped.busy, stopped.invisible)), std::pair(false, true));

    // Return and Enter press the primary button only while it is enabled; Escape always cancels.
    QSignalSpy pressed(window.actionButton(), &QPushButton::clicked), cancelled(window.cancelButton(), &QPushButton::clicked);
    for (const bool enabled : {true, false}) {
        window.actionButton()->setEnabled(enabled);
        QTest::keyClick(&window, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(&window, Qt::Key_Escape);
    }
    EXPECT_EQ((std::pair<int, int>(pressed.count(), cancelled.count())), std::pair(2, 2));
}

}  // namespace
}  // namespace quillmere
