#pragma once

#include "ui/progress_bar.h"

#include <QWidget>

QT_BEGIN_NAMESPACE
class QLabel;
class QPushButton;
QT_END_NAMESPACE

namespace quillmere {

class Spinner;

// The installer's one window: a fixed 520 × 330 content area holding the icon, the product
// name, a status line, a wrapping detail text, a progress bar, a spinner and two buttons.
// It only builds and places the views; what they show is the controller's business.
// Return activates the primary button while it is enabled; Escape always activates "取消".
class InstallerWindow : public QWidget {
    Q_OBJECT
public:
    explicit InstallerWindow(const QString &appName, QWidget *parent = nullptr);

    QLabel *statusLabel() const { return controls.statusLabel; }
    QLabel *detailLabel() const { return controls.detailLabel; }
    ProgressBar *progress() const { return controls.progress; }
    Spinner *spinner() const { return controls.spinner; }
    QPushButton *actionButton() const { return controls.actionButton; }
    QPushButton *cancelButton() const { return controls.cancelButton; }

    // Puts the window in the middle of its screen's available area.
    void centreOnScreen();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyLabelColours();

    // Named like their objectNames; the accessors above hand them out.
    struct Controls {
        QLabel *iconView;
        QLabel *titleLabel;
        QLabel *statusLabel;
        QLabel *detailLabel;
        ProgressBar *progress;
        Spinner *spinner;
        QPushButton *actionButton;
        QPushButton *cancelButton;
    };
    Controls controls{};
};

// The installer's own application icon (drawn by our icon tool, compiled in as a resource).
[[nodiscard]] QIcon installerIcon();

}  // namespace quillmere
