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

    QLabel *statusLabel() const { return statusLabel_; }
    QLabel *detailLabel() const { return detailLabel_; }
    ProgressBar *progress() const { return progress_; }
    Spinner *spinner() const { return spinner_; }
    QPushButton *actionButton() const { return actionButton_; }
    QPushButton *cancelButton() const { return cancelButton_; }

    // Puts the window in the middle of its screen's available area.
    void centreOnScreen();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyLabelColours();

    QLabel *iconView_;
    QLabel *titleLabel_;
    QLabel *statusLabel_;
    QLabel *detailLabel_;
    ProgressBar *progress_;
    Spinner *spinner_;
    QPushButton *actionButton_;
    QPushButton *cancelButton_;
};

// The installer's own application icon (drawn by our icon tool, compiled in as a resource).
[[nodiscard]] QIcon installerIcon();

}  // namespace quillmere
