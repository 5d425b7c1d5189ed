#include "ui/spinner.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QTimerEvent>

namespace quillmere {

namespace {
constexpr int spokeCount = 12;
constexpr int frameMs = 80;
constexpr int smallSize = 16; // the platform's small control size

// To a screen reader the spinner is a progress indicator without a value, busy while it turns
// (a plain widget would be an unnamed "client" area).
class SpinnerAccessible final : public QAccessibleWidget {
public:
    explicit SpinnerAccessible(Spinner *spinner) : QAccessibleWidget(spinner, QAccessible::ProgressBar) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.busy = static_cast<const Spinner *>(widget())->isAnimating();
        return state;
    }
};

QAccessibleInterface *accessibleSpinner(const QString &className, QObject *object)
{
    if (className == QLatin1String(Spinner::staticMetaObject.className()) && object->isWidgetType())
        return new SpinnerAccessible(static_cast<Spinner *>(object));
    return nullptr;
}

// Tells a listening screen reader that the busy state has changed (nothing when none listens).
void announceBusyChange(Spinner *spinner)
{
    QAccessible::State changed;
    changed.busy = true;
    QAccessibleStateChangeEvent event(spinner, changed);
    QAccessible::updateAccessibility(&event);
}
}  // namespace

Spinner::Spinner(QWidget *parent) : QWidget(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleSpinner), true);
    Q_UNUSED(factoryInstalled);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void Spinner::startAnimation()
{
    if (!timer.isActive())
        timer.start(frameMs, this);
    show();
    announceBusyChange(this);
}

void Spinner::stopAnimation()
{
    timer.stop();
    hide();
    announceBusyChange(this);
}

QSize Spinner::sizeHint() const
{
    return {smallSize, smallSize};
}

void Spinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timer.timerId())
        return QWidget::timerEvent(event);
    step = (step + 1) % spokeCount;
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
        const int age = (step - i + spokeCount) % spokeCount;
        colour.setAlphaF(1.0 - 0.75 * age / (spokeCount - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -side * 0.25), QPointF(0, -side * 0.45));
        painter.rotate(360.0 / spokeCount);
    }
}

}  // namespace quillmere
