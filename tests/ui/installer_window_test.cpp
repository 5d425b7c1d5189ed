#include "ui/installer_window.h"

#include "support/controls.h"
#include "ui/spinner.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// What the window does rather than what it is made of: a screen reader asks each view when it
// likes (the bar's interface is fetched before the texts change, so it must read them when
// asked), every view has a name, the busy spinner says so, a long name and a long detail stay
// inside the window without hiding the bar, and the keys reach the buttons, which take no focus.
TEST(InstallerWindow, ReadersLayoutAndKeys)
{
    InstallerWindow window(u"Quillmere Desktop with a product name far too long to fit in the window"_s);
    window.progress()->show();
    window.spinner()->startAnimation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto view = [&](const char *name) { return test::control<QWidget>(&window, name); };
    QAccessibleInterface *barReader = QAccessible::queryAccessibleInterface(view("progress"));
    window.progress()->setPercentage(41.6);
    window.statusLabel()->setText(u"正在下载 1.4.2…"_s);
    EXPECT_EQ(std::tuple(barReader->text(QAccessible::Description), barReader->text(QAccessible::Value),
                         barReader->valueInterface()->currentValue()),
              std::tuple(u"正在下载 1.4.2…"_s, u"42%"_s, QVariant(42)));
    for (const char *name : {"iconView", "statusLabel", "detailLabel", "progress", "spinner", "actionButton", "cancelButton"})
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(view(name))->text(QAccessible::Name).isEmpty()) << name;
    const auto spinnerState = [&] { return QAccessible::queryAccessibleInterface(view("spinner"))->state(); };
    EXPECT_TRUE(spinnerState().busy);

    window.detailLabel()->setText(QString(200, QChar(u'字')));
    QCoreApplication::processEvents();  // let the label change re-run the layout
    const QRect detail = view("detailLabel")->geometry(), bar = view("progress")->geometry();
    for (const char *name : {"titleLabel", "detailLabel", "progress", "actionButton", "cancelButton"})
        EXPECT_TRUE(window.rect().contains(view(name)->geometry())) << name;
    EXPECT_GE(detail.height(), window.detailLabel()->heightForWidth(detail.width()));
    EXPECT_GT(bar.top(), detail.bottom());
    EXPECT_LT(bar.bottom(), view("actionButton")->geometry().top());
    window.spinner()->stopAnimation();
    EXPECT_TRUE(!spinnerState().busy && spinnerState().invisible);

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
