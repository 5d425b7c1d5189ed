#include "system/sha512_thread.h"

#include "system/sha512.h"

#include <QFile>
#include <QMetaObject>
#include <QObject>

namespace quillmere {

Sha512Thread::Sha512Thread() : worker([this] { run(); }) {}

Sha512Thread::~Sha512Thread()
{
    {
        const std::lock_guard lock(mutex);
        stopping = true;
        jobs.clear();
    }
    wake.notify_one();
    worker.join();
}

void Sha512Thread::post(Job job)
{
    {
        const std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
    }
    wake.notify_one();
}

void Sha512Thread::addData(QByteArray piece)
{
    const qint64 size = piece.size();
    pendingBytes += size;
    post([this, piece = std::move(piece), size](Sha512 &hash) mutable {
        hash.addData(piece);
        pendingBytes -= size;
        const std::lock_guard lock(mutex);
        if (spares.size() < 16)
            spares.append(std::move(piece));
    });
}

QByteArray Sha512Thread::spare()
{
    const std::lock_guard lock(mutex);
    return spares.isEmpty() ? QByteArray() : spares.takeLast();
}

void Sha512Thread::addFile(const QString &path, qint64 length)
{
    pendingBytes += length;
    post([this, path, length](Sha512 &hash) {
        QFile file(path);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        qint64 left = length;
        if (file.open(QIODevice::ReadOnly)) {
            for (qint64 read; left > 0 && !stopping && (read = file.read(block.data(), std::min<qint64>(left, block.size()))) > 0;) {
                hash.addData(QByteArrayView(block.constData(), read));
                left -= read;
                pendingBytes -= read;
            }
        }
        pendingBytes -= left;
        if (left > 0)
            failed = true;
    });
}

void Sha512Thread::whenPendingAtMost(qint64 bytes, QObject *context, std::function<void()> ready)
{
    {
        const std::lock_guard lock(mutex);
        waitingFor = bytes;
        waiterContext = context;
        waiter = std::move(ready);
    }
    wakeWaiter();
}

void Sha512Thread::wakeWaiter()
{
    const std::lock_guard lock(mutex);
    if (!waiter || pendingBytes.load() > waitingFor)
        return;
    QMetaObject::invokeMethod(waiterContext, std::exchange(waiter, {}), Qt::QueuedConnection);
}

void Sha512Thread::result(QObject *context, std::function<void(QByteArray)> done)
{
    post([this, context, done = std::move(done)](Sha512 &hash) {
        QByteArray digest = failed ? QByteArray() : hash.result();
        QMetaObject::invokeMethod(context, [done, digest] { done(digest); }, Qt::QueuedConnection);
    });
}

void Sha512Thread::run()
{
    Sha512 hash;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job(hash);
        wakeWaiter();
    }
}

}  // namespace quillmere
