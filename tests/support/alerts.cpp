#include "support/alerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace quillmere::test {

struct AlertDismisser::State {
    QTimer timer;
    std::optional<SeenAlert> seen;
};

AlertDismisser::AlertDismisser() : state_(std::make_shared<State>())
{
    state_->timer.setInterval(10);
    QObject::connect(&state_->timer, &QTimer::timeout, [state = state_.get()] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        SeenAlert alert{box->text(), box->informativeText(), {}};
        for (QAbstractButton *button : box->buttons())
            alert.buttons << button->text();
        state->seen = alert;
        state->timer.stop();
        if (!box->buttons().isEmpty())
            box->buttons().first()->click();
        else
            box->reject();
    });
    state_->timer.start();
}

AlertDismisser::~AlertDismisser() = default;

const std::optional<SeenAlert> &AlertDismisser::seen() const
{
    return state_->seen;
}

}  // namespace quillmere::test
