#include "ui/progress_bar.h"

#include <cmath>

namespace quillmere {

ProgressBar::ProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
}

void ProgressBar::setPercentage(double percentage)
{
    percentage_ = percentage;
    // QProgressBar ignores a value outside its range instead of drawing it full or empty.
    const double shown = std::isnan(percentage) ? 0.0 : std::clamp(percentage, 0.0, 100.0);
    setValue(int(std::lround(shown)));
}

}  // namespace quillmere
