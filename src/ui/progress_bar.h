#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

namespace quillmere {

// A bar from 0 to 100 that keeps the exact percentage it was given, fractions and values past
// either end included; it draws the nearest whole step inside the range. A screen reader reads
// the drawn percentage ("42%") as its value and, once a status label is set, that label's text
// as its description.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget *parent = nullptr);

    void setPercentage(double percentage);
    [[nodiscard]] double percentage() const { return exactPercentage; }

    // The label whose text describes the bar to a screen reader; read each time it is asked,
    // so the description never lags behind the text on screen. Not owned.
    void setStatusLabel(QLabel *label) { describingLabel = label; }
    [[nodiscard]] const QLabel *statusLabel() const { return describingLabel; }

private:
    double exactPercentage = 0;
    QPointer<QLabel> describingLabel;
};

}  // namespace quillmere
