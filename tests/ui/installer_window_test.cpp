#include "ui/installer_window.h"
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

// Where the window's constraints put each view, checked against the real widgets. Every
// position is exact; centre lines may differ by the half pixel that rounding gives.
void expectConstraintsHold(const InstallerWindow &window)
{
    auto frame = [&window](const char *name) {
        auto *view = window.findChild<QWidget *>(QString::fromLatin1(name));
        EXPECT_NE(view, nullptr) << name;
        return view ? view->geometry() : QRect();
    };
    const QRect content = window.rect();
    const QRect icon = frame("iconView"), title = frame("titleLabel");
    const QRect status = frame("statusLabel"), detail = frame("detailLabel");
    const QRect bar = frame("progress"), spin = frame("spinner");
    const QRect action = frame("actionButton"), cancel = frame("cancelButton");
    auto right = [](const QRect &r) { return r.x() + r.width(); };
    auto bottom = [](const QRect &r) { return r.y() + r.height(); };
    auto centreY = [](const QRect &r) { return r.y() + r.height() / 2.0; };

    EXPECT_EQ(content.size(), QSize(520, 330));
    EXPECT_EQ(icon, QRect(24, 28, 56, 56));
    EXPECT_EQ(title.x(), right(icon) + 16);
    EXPECT_NEAR(centreY(title), centreY(icon), 1.0);
    EXPECT_LE(right(title), content.width() - 24);
    for (const QRect &row : {status, detail, bar}) {
        EXPECT_EQ(row.x(), 24);
        EXPECT_EQ(right(row), content.width() - 24);
    }
    EXPECT_EQ(status.y(), bottom(icon) + 22);
    EXPECT_EQ(detail.y(), bottom(status) + 8);
    EXPECT_EQ(bar.y(), bottom(detail) + 14);
    EXPECT_EQ(bar.height(), 8);
    EXPECT_EQ(spin.x(), 24);
    EXPECT_EQ(spin.y(), bottom(detail) + 10);
    EXPECT_EQ(right(cancel), content.width() - 24);
    EXPECT_EQ(bottom(cancel), content.height() - 20);
    EXPECT_EQ(cancel.width(), 90);
    EXPECT_EQ(right(action), cancel.x() - 10);
    EXPECT_NEAR(centreY(action), centreY(cancel), 1.0);
    EXPECT_EQ(action.width(), 120);
}

void showAndSettle(InstallerWindow &window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents(); // let label changes re-run the layout
}

TEST(InstallerWindow, StartsInThePreparingState)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    EXPECT_EQ(window.windowTitle(), u"安装 Quillmere Desktop"_s);
    EXPECT_EQ(window.minimumSize(), QSize(520, 330));
    EXPECT_EQ(window.maximumSize(), QSize(520, 330));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window.windowIcon().isNull());

    auto *icon = window.findChild<QLabel *>(u"iconView"_s);
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    auto *title = window.findChild<QLabel *>(u"titleLabel"_s);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), u"Quillmere Desktop"_s);
    EXPECT_EQ(title->font().pixelSize(), 20);
    EXPECT_EQ(title->font().weight(), QFont::DemiBold);

    EXPECT_EQ(window.statusLabel()->text(), u"准备中…"_s);
    EXPECT_EQ(window.statusLabel()->font().pixelSize(), 13);
    EXPECT_EQ(window.detailLabel()->text(), u"安装完成后会自动打开。旧版本会被移到废纸篓。"_s);
    EXPECT_EQ(window.detailLabel()->font().pixelSize(), 12);
    EXPECT_TRUE(window.detailLabel()->wordWrap());

    // Secondary and tertiary text: the theme's text colour, fainter, the detail the faintest.
    const QColor text = window.palette().color(QPalette::WindowText);
    const QColor secondary = window.statusLabel()->palette().color(QPalette::WindowText);
    const QColor tertiary = window.detailLabel()->palette().color(QPalette::WindowText);
    EXPECT_EQ(secondary.rgb(), text.rgb());
    EXPECT_EQ(tertiary.rgb(), text.rgb());
    EXPECT_LT(tertiary.alphaF(), secondary.alphaF());
    EXPECT_LT(secondary.alphaF(), 1.0);

    EXPECT_EQ(window.progress()->minimum(), 0);
    EXPECT_EQ(window.progress()->maximum(), 100);
    EXPECT_EQ(window.progress()->value(), 0);
    EXPECT_TRUE(window.progress()->isHidden());
    EXPECT_FALSE(window.spinner()->isAnimating());
    EXPECT_TRUE(window.spinner()->isHidden());

    EXPECT_EQ(window.actionButton()->text(), u"安装"_s);
    EXPECT_TRUE(window.actionButton()->isEnabled());
    EXPECT_TRUE(window.actionButton()->isDefault());
    EXPECT_EQ(window.cancelButton()->text(), u"取消"_s);
}

TEST(InstallerWindow, SecondaryColoursFollowTheTheme)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    QPalette dark = window.palette();
    dark.setColor(QPalette::WindowText, Qt::white);
    window.setPalette(dark);
    EXPECT_EQ(window.statusLabel()->palette().color(QPalette::WindowText).rgb(), QColor(Qt::white).rgb());
    EXPECT_EQ(window.detailLabel()->palette().color(QPalette::WindowText).rgb(), QColor(Qt::white).rgb());
}

TEST(InstallerWindow, SpinnerIsVisibleOnlyWhileAnimating)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    showAndSettle(window);
    window.spinner()->startAnimation();
    EXPECT_TRUE(window.spinner()->isVisible());
    window.spinner()->stopAnimation();
    EXPECT_FALSE(window.spinner()->isVisible());
}

struct GeometryCase {
    const char *name;
    QString appName;
    QString detail;
};

void PrintTo(const GeometryCase &c, std::ostream *os)
{
    *os << c.name;
}

class InstallerWindowGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(InstallerWindowGeometry, ViewsSitWhereTheConstraintsPutThem)
{
    const GeometryCase &c = GetParam();
    InstallerWindow window(c.appName);
    window.detailLabel()->setText(c.detail);
    window.progress()->show();
    window.spinner()->startAnimation();
    showAndSettle(window);
    expectConstraintsHold(window);

    // The spinner draws over the bar's left end.
    const QRect spin = window.spinner()->geometry(), bar = window.progress()->geometry();
    EXPECT_TRUE(spin.intersects(bar));
    EXPECT_GT(window.children().indexOf(window.spinner()), window.children().indexOf(window.progress()));
}

const QString fourLines = u"第一行\n第二行\n第三行\n第四行"_s;

INSTANTIATE_TEST_SUITE_P(
    Layouts, InstallerWindowGeometry,
    ::testing::Values(
        GeometryCase{"Default", u"Quillmere Desktop"_s, u"安装完成后会自动打开。旧版本会被移到废纸篓。"_s},
        GeometryCase{"LongName", u"Quillmere Desktop with a product name far too long to fit in the window"_s,
                     u"短"_s},
        GeometryCase{"FourLineDetail", u"Quillmere Desktop"_s, fourLines},
        GeometryCase{"WrappedDetail", u"Quillmere Desktop"_s, QString(200, QChar(u'字'))}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(InstallerWindow, ALongerDetailMovesTheBarButNotTheButtons)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    showAndSettle(window);
    const QRect barBefore = window.progress()->geometry();
    const QRect buttonBefore = window.actionButton()->geometry();
    const int oneLine = window.detailLabel()->height();

    window.detailLabel()->setText(fourLines);
    QCoreApplication::processEvents();
    EXPECT_GE(window.detailLabel()->height(), 4 * oneLine - 1);
    EXPECT_EQ(window.progress()->y() - barBefore.y(), window.detailLabel()->height() - oneLine);
    EXPECT_EQ(window.actionButton()->geometry(), buttonBefore);
}

TEST(InstallerWindow, ReturnPressesThePrimaryButtonOnlyWhileEnabled)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    showAndSettle(window);
    QSignalSpy pressed(window.actionButton(), &QPushButton::clicked);
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        pressed.clear();
        window.actionButton()->setEnabled(enabled);
        QTest::keyClick(&window, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(pressed.count(), enabled ? 2 : 0);
    }
}

TEST(InstallerWindow, EscapePressesCancelWhateverTheState)
{
    InstallerWindow window(u"Quillmere Desktop"_s);
    showAndSettle(window);
    QSignalSpy pressed(window.cancelButton(), &QPushButton::clicked);
    QTest::keyClick(&window, Qt::Key_Escape);
    window.actionButton()->setEnabled(false);
    window.spinner()->startAnimation();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(pressed.count(), 2);
}

}  // namespace
}  // namespace quillmere
