#pragma once

#include <QString>

#include <QStringList>

#include <optional>
#include <memory>

namespace quillmere::test {

// What a modal alert showed before it was dismissed.
struct SeenAlert {
    QString text;
    QString informativeText;
    QStringList buttons;
};

// Watches for the next modal message box, records what it shows and presses its first
// button. Keep it alive across the call that opens the alert; `seen()` is empty until then.
class AlertDismisser {
public:
    AlertDismisser();
    ~AlertDismisser();
    [[nodiscard]] const std::optional<SeenAlert> &seen() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace quillmere::test
