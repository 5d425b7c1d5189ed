#pragma once

#include <QEventLoop>
#include <QTimer>

#include <chrono>

namespace quillmere::bench {

// Runs the event loop until `done` holds or `timeout` passes, as the application's own loop
// would; QTest::qWaitFor sleeps between rounds, which throttles a fast transfer.
template <typename Predicate> bool runUntil(Predicate done, std::chrono::milliseconds timeout)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

}  // namespace quillmere::bench
