#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

QT_BEGIN_NAMESPACE
class QObject;
QT_END_NAMESPACE

namespace quillmere {

class Sha512;

// A SHA-512 computed on a thread of its own: pieces are handed over as they arrive and hashed
// there, so that the hashing overlaps the transfer instead of following each write on the
// caller's thread. Pieces are shared, not copied. Answers come back as calls on a context
// object's thread; the context must outlive this object. Not copyable.
class Sha512Thread {
public:
    Sha512Thread();
    ~Sha512Thread();
    Sha512Thread(const Sha512Thread &) = delete;
    Sha512Thread &operator=(const Sha512Thread &) = delete;

    void addData(QByteArray piece);
    // A piece handed over earlier and hashed since, to be filled again (or a new one): a
    // transfer then reuses a few buffers instead of allocating one for each piece.
    [[nodiscard]] QByteArray spare();
    // The first `length` bytes of a file, read on the thread in bounded blocks. When they cannot
    // all be read, failed() is true from then on.
    void addFile(const QString &path, qint64 length);
    // Bytes handed over and not hashed yet (of addData; a file counts as its length).
    [[nodiscard]] qint64 pending() const { return pendingBytes.load(); }
    // Calls `ready` on `context`'s thread once pending() is at most `bytes` (at once, queued,
    // when it is already). One waiter at a time; a new one replaces it, an empty one removes it.
    void whenPendingAtMost(qint64 bytes, QObject *context, std::function<void()> ready);
    // Calls `done` on `context`'s thread with the digest of everything handed over so far, or
    // with nothing when a file could not be read.
    void result(QObject *context, std::function<void(QByteArray)> done);

private:
    using Job = std::function<void(Sha512 &)>;
    void post(Job job);
    void run();
    void wakeWaiter();

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    QList<QByteArray> spares;
    std::atomic<bool> stopping{false};
    std::atomic<qint64> pendingBytes{0};
    std::atomic<bool> failed{false};
    // The waiter of whenPendingAtMost, under `mutex`.
    qint64 waitingFor = -1;
    QObject *waiterContext = nullptr;
    std::function<void()> waiter;
    std::thread worker; // last: started once the rest is in place
};

}  // namespace quillmere
