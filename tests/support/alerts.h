#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <optional>

namespace quillmere::test {

// What a modal alert showed before it was dismissed: its text, and its informative text as its
// label holds it and reads it.
struct SeenAlert {
    QString text, informativeText;
    Qt::TextFormat informativeFormat = Qt::AutoText;
};

// Watches for the next modal message box, records what it shows and closes it. Keep it alive
// across the call that opens the alert; `seen()` is empty until then.
class AlertDismisser {
public:
    AlertDismisser()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                timer_.stop();
                // Qt's own name for the label; the controller relies on it as well.
                const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
                seen_ = SeenAlert{box->text(), label ? label->text() : QString(), label ? label->textFormat() : Qt::AutoText};
                box->done(0);
            }
        });
        timer_.start(10);
    }
    [[nodiscard]] const std::optional<SeenAlert> &seen() const { return seen_; }

private:
    QTimer timer_;
    std::optional<SeenAlert> seen_;
};

}  // namespace quillmere::test
