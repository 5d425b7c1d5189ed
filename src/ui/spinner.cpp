#include "ui/spinner.h"

#include <QPainter>
#include <QTimerEvent>

namespace quillmere {

namespace {
constexpr int spokeCount = 12;
constexpr int frameMs = 80;
constexpr int smallSize = 16; // the platform's small control size
}

Spinner::Spinner(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void Spinner::startAnimation()
{
    if (!timer_.isActive())
        timer_.start(frameMs, this);
    show();
}

void Spinner::stopAnimation()
{
    timer_.stop();
    hide();
}

QSize Spinner::sizeHint() const
{
    return {smallSize, smallSize};
}

void Spinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timer_.timerId())
        return QWidget::timerEvent(event);
    step_ = (step_ + 1) % spokeCount;
    update();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QColor colour = palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(side / 10.0);
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < spokeCount; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (step_ - i + spokeCount) % spokeCount;
        colour.setAlphaF(1.0 - 0.75 * age / (spokeCount - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -side * 0.25), QPointF(0, -side * 0.45));
        painter.rotate(360.0 / spokeCount);
    }
}

}  // namespace quillmere
