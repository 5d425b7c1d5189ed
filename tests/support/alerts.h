#pragma once

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <optional>

namespace quillmere::test {

// What a modal alert showed before it was dismissed.
struct SeenAlert {
    QString text;
    QString informativeText;                          // as its label holds it
    Qt::TextFormat informativeFormat = Qt::AutoText;  // how that label reads it
};

// Watches for the next modal message box, records what it shows and closes it. Keep it alive
// across the call that opens the alert; `seen()` is empty until then.
class AlertDismisser {
public:
    AlertDismisser()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { dismiss(); });
        timer_.start(10);
    }
    [[nodiscard]] const std::optional<SeenAlert> &seen() const { return seen_; }

private:
    void dismiss()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer_.stop();
        // Qt's own name for the label; the controller relies on it as well.
        const auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        seen_ = SeenAlert{box->text(), informative ? informative->text() : QString(),
                          informative ? informative->textFormat() : Qt::AutoText};
        box->done(0);
    }

    QTimer timer_;
    std::optional<SeenAlert> seen_;
};

}  // namespace quillmere::test
