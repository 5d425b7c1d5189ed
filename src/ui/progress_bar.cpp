#include "ui/progress_bar.h"

#include <QAccessibleWidget>
#include <QLabel>

#include <cmath>

namespace quillmere {

namespace {

// Qt's own interface for a progress bar has no description and reads the value as a bare
// number; this one reads "42%" and the status line beside the bar.
class ProgressBarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarAccessible(ProgressBar *bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(bar()->value()) + u'%';
        if (t == QAccessible::Description && bar()->statusLabel())
            return bar()->statusLabel()->text();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return bar()->value(); }
    void setCurrentValue(const QVariant &) override {} // shows progress; nobody sets it
    QVariant maximumValue() const override { return bar()->maximum(); }
    QVariant minimumValue() const override { return bar()->minimum(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    ProgressBar *bar() const { return static_cast<ProgressBar *>(widget()); }
};

QAccessibleInterface *accessibleProgressBar(const QString &className, QObject *object)
{
    if (className == QLatin1String(ProgressBar::staticMetaObject.className()) && object->isWidgetType())
        return new ProgressBarAccessible(static_cast<ProgressBar *>(object));
    return nullptr;
}

}  // namespace

ProgressBar::ProgressBar(QWidget *parent) : QProgressBar(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleProgressBar), true);
    Q_UNUSED(factoryInstalled);
    setRange(0, 100);
    setValue(0);
}

void ProgressBar::setPercentage(double percentage)
{
    exactPercentage = percentage;
    // QProgressBar ignores a value outside its range instead of drawing it full or empty.
    const double shown = std::isnan(percentage) ? 0.0 : std::clamp(percentage, 0.0, 100.0);
    setValue(int(std::lround(shown)));
}

}  // namespace quillmere
