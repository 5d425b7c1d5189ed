#pragma once

#include <QEvent>
#include <QWidget>

#include <ctime>
#include <functional>
#include <utility>

namespace quillmere::bench {

// CLOCK_REALTIME in seconds: the clock the bench scripts read (date +%s%N) just before they
// start a driver, so that a driver's times can count from its launch.
inline double realtimeSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Notes the first time `view` is painted while `ready` holds: the moment a person could read
// it. Painting follows a text change within the same turn of the event loop.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget *view, std::function<bool()> ready) : ready_(std::move(ready))
    {
        view->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_ && ready_()) {
            seen_ = true;
            at_ = realtimeSeconds();
        }
        return false;
    }
    bool seen() const { return seen_; }
    double at() const { return at_; }

private:
    std::function<bool()> ready_;
    bool seen_ = false;
    double at_ = 0;
};

}  // namespace quillmere::bench
