#pragma once

#include <QProgressBar>

namespace quillmere {

// A bar from 0 to 100 that keeps the exact percentage it was given, fractions and values past
// either end included; it draws the nearest whole step inside the range.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget *parent = nullptr);

    void setPercentage(double percentage);
    [[nodiscard]] double percentage() const { return percentage_; }

private:
    double percentage_ = 0;
};

}  // namespace quillmere
