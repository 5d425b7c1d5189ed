#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace quillmere {

// A small indeterminate busy indicator. Qt has none, so this one draws twelve fading
// spokes. Like the platform's small spinner it is invisible unless animating; a screen reader
// finds a progress indicator that is busy while it turns.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget *parent = nullptr);

    void startAnimation(); // shows the spinner and starts turning it
    void stopAnimation();  // stops and hides it
    [[nodiscard]] bool isAnimating() const { return timer.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer timer;
    int step = 0;
};

}  // namespace quillmere
