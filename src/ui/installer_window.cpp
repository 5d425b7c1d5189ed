#include "ui/installer_window.h"

#include "system/texts.h"
#include "ui/progress_bar.h"
#include "ui/spinner.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QWidgetItem>

#include <array>
#include <memory>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

constexpr QSize contentSize{520, 330};
constexpr int margin = 24;
constexpr int iconTop = 28;
constexpr int iconSide = 56;
constexpr int titleGap = 16;
constexpr int statusGap = 22;
constexpr int detailGap = 8;
constexpr int progressGap = 14;
constexpr int progressHeight = 8;
constexpr int spinnerGap = 10;
constexpr int bottomMargin = 20;
constexpr int cancelWidth = 90;
constexpr int actionWidth = 120;
constexpr int buttonGap = 10;

// Text colours of secondary and tertiary labels: the theme's text colour at reduced
// opacity, so they follow light and dark themes as the platform's label colours do.
constexpr qreal secondaryOpacity = 0.50;
constexpr qreal tertiaryOpacity = 0.26;

// Places the eight views exactly where the window's fixed constraints put them: margins,
// gaps and fixed sizes are constants; labels, spinner and buttons keep their natural
// heights. A long title stops `margin` before the right edge; a detail text of several
// lines pushes the bar and spinner down while the buttons stay anchored to the bottom.
class InstallerLayout final : public QLayout {
public:
    enum Role { Icon, Title, Status, Detail, Progress, Spin, Action, Cancel, RoleCount };

    InstallerLayout(QWidget *parent, const std::array<QWidget *, RoleCount> &views)
        : QLayout(parent)
    {
        setContentsMargins(0, 0, 0, 0);
        setSizeConstraint(QLayout::SetNoConstraint);
        for (std::size_t i = 0; i < views.size(); ++i)
            items[i] = std::make_unique<QWidgetItem>(views[i]);
    }

    void addItem(QLayoutItem *item) override { delete item; } // the set of views is fixed
    int count() const override { return RoleCount; }
    QLayoutItem *itemAt(int index) const override
    {
        return index >= 0 && index < RoleCount ? items[std::size_t(index)].get() : nullptr;
    }
    QLayoutItem *takeAt(int) override { return nullptr; }
    QSize sizeHint() const override { return contentSize; }
    QSize minimumSize() const override { return contentSize; }

    void setGeometry(const QRect &rect) override
    {
        QLayout::setGeometry(rect);
        const int left = rect.left() + margin;
        const int right = rect.right() + 1 - margin;
        const int fullWidth = right - left;
        auto place = [this](Role role, int x, int y, int w, int h) {
            view(role)->setGeometry(x, y, w, h);
        };
        // Hidden views still take their natural size: showing them must move nothing.
        auto natural = [this](Role role) { return view(role)->sizeHint(); };

        const int iconY = rect.top() + iconTop;
        place(Icon, left, iconY, iconSide, iconSide);

        const int titleX = left + iconSide + titleGap;
        const QSize title = natural(Title);
        place(Title, titleX, iconY + (iconSide - title.height()) / 2,
              qMax(0, qMin(title.width(), right - titleX)), title.height());

        const int statusY = iconY + iconSide + statusGap;
        const int statusHeight = natural(Status).height();
        place(Status, left, statusY, fullWidth, statusHeight);

        const int detailY = statusY + statusHeight + detailGap;
        int detailHeight = view(Detail)->heightForWidth(fullWidth);
        if (detailHeight < 0)
            detailHeight = natural(Detail).height();
        place(Detail, left, detailY, fullWidth, detailHeight);

        const int detailBottom = detailY + detailHeight;
        place(Progress, left, detailBottom + progressGap, fullWidth, progressHeight);
        const QSize spin = natural(Spin);
        place(Spin, left, detailBottom + spinnerGap, spin.width(), spin.height());

        const int cancelHeight = natural(Cancel).height();
        const int cancelX = right - cancelWidth;
        const int cancelY = rect.bottom() + 1 - bottomMargin - cancelHeight;
        place(Cancel, cancelX, cancelY, cancelWidth, cancelHeight);
        const int actionHeight = natural(Action).height();
        place(Action, cancelX - buttonGap - actionWidth,
              cancelY + (cancelHeight - actionHeight) / 2, actionWidth, actionHeight);
    }

private:
    QWidget *view(Role role) const { return items[role]->widget(); }

    std::array<std::unique_ptr<QWidgetItem>, RoleCount> items;
};

QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    // Sizes are in the platform's points, which are logical pixels on screen; a pixel size
    // keeps the layout the same whatever DPI the desktop reports.
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QPushButton *makeButton(const QString &title, int width, QWidget *parent)
{
    auto *button = new QPushButton(title, parent);
    // As on the platform, buttons take no keyboard focus: Return and Escape reach them
    // through the window's shortcuts, whatever is focused.
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedWidth(width);
    return button;
}

}  // namespace

QIcon installerIcon()
{
    return QIcon(u":/icons/installer_icon.png"_s);
}

InstallerWindow::InstallerWindow(const QString &appName, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(installerWindowTitle(appName));
    setWindowIcon(installerIcon());
    setFixedSize(contentSize);

    controls.iconView = new QLabel(this);
    controls.iconView->setObjectName(u"iconView"_s);
    controls.iconView->setAlignment(Qt::AlignCenter);
    const QIcon icon = installerIcon();
    if (!icon.isNull())
        controls.iconView->setPixmap(icon.pixmap(QSize(iconSide, iconSide)));

    controls.titleLabel = new QLabel(appName, this);
    controls.titleLabel->setObjectName(u"titleLabel"_s);
    controls.titleLabel->setFont(systemFont(20, QFont::DemiBold));

    controls.statusLabel = new QLabel(preparingText(), this);
    controls.statusLabel->setObjectName(u"statusLabel"_s);
    controls.statusLabel->setFont(systemFont(13));

    controls.detailLabel = new QLabel(this);
    controls.detailLabel->setObjectName(u"detailLabel"_s);
    controls.detailLabel->setFont(systemFont(12));
    controls.detailLabel->setWordWrap(true);
    controls.detailLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    controls.detailLabel->setText(openedAfterInstallText());

    for (QLabel *label : {controls.titleLabel, controls.statusLabel, controls.detailLabel})
        label->setTextFormat(Qt::PlainText); // texts from the manifest are never markup

    controls.progress = new ProgressBar(this);
    controls.progress->setObjectName(u"progress"_s);
    controls.progress->setTextVisible(false);
    controls.progress->hide();

    controls.spinner = new Spinner(this);
    controls.spinner->setObjectName(u"spinner"_s);

    controls.actionButton = makeButton(installButtonText(), actionWidth, this);
    controls.actionButton->setObjectName(u"actionButton"_s);
    controls.actionButton->setDefault(true);

    controls.cancelButton = makeButton(cancelButtonText(), cancelWidth, this);
    controls.cancelButton->setObjectName(u"cancelButton"_s);

    applyLabelColours();

    // What a screen reader says beyond the views' own texts. The buttons take no focus, so
    // their descriptions name the keys that press them.
    setAccessibleDescription(installerWindowDescription(appName));
    controls.iconView->setAccessibleName(iconName());
    controls.statusLabel->setAccessibleDescription(statusDescription());
    controls.detailLabel->setAccessibleDescription(detailDescription());
    controls.progress->setAccessibleName(progressName());
    controls.progress->setStatusLabel(controls.statusLabel);
    controls.spinner->setAccessibleName(spinnerName());
    controls.spinner->setAccessibleDescription(spinnerDescription());
    controls.actionButton->setAccessibleDescription(actionButtonDescription());
    controls.cancelButton->setAccessibleDescription(cancelButtonDescription());

    // Created in drawing order: the spinner, created after the bar, draws over its left end.
    new InstallerLayout(this, {controls.iconView, controls.titleLabel, controls.statusLabel, controls.detailLabel, controls.progress,
                               controls.spinner, controls.actionButton, controls.cancelButton});

    for (QKeySequence key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (controls.actionButton->isEnabled())
                controls.actionButton->click();
        });
    }
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, controls.cancelButton, &QPushButton::click);
}

void InstallerWindow::centreOnScreen()
{
    if (const QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void InstallerWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange
        || event->type() == QEvent::StyleChange)
        applyLabelColours();
    QWidget::changeEvent(event);
}

void InstallerWindow::applyLabelColours()
{
    const QColor text = palette().color(QPalette::WindowText);
    auto tint = [&text](QLabel *label, qreal opacity) {
        QColor colour = text;
        colour.setAlphaF(float(opacity));
        QPalette labelPalette = label->palette();
        labelPalette.setColor(QPalette::WindowText, colour);
        label->setPalette(labelPalette);
    };
    tint(controls.statusLabel, secondaryOpacity);
    tint(controls.detailLabel, tertiaryOpacity);
}

}  // namespace quillmere
