#pragma once

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

namespace quillmere {

// The longest wait for further data from the server, in every transfer.
inline constexpr std::chrono::seconds transferIdleLimit{60};
// The longest time a package download may take in all, retried ranges included.
inline constexpr std::chrono::seconds downloadTotalLimit{1800};
// The most a server may send of a manifest (a real one is a few hundred bytes) and of a
// package's signature file (Base64 of 64 bytes and a line feed: 89). A package may hold no
// more than its entry in the manifest says, where that entry is checked at all. Each transfer
// is cut off as soon as more has arrived.
inline constexpr qint64 manifestByteLimit = 1024 * 1024;
inline constexpr qint64 signatureByteLimit = 128;

// Ends a transfer that goes quiet for longer than the idle limit, or that takes longer than
// the total limit in all: expired() is sent once, and timedOut() is true from then on. Qt's
// own transfer time-out reports itself as "operation canceled", the same words as a
// cancellation, so the limits are kept here and a time-out can be told apart. Main thread only.
class TransferLimits : public QObject {
    Q_OBJECT
public:
    // Watches a reply: headers, TLS progress, redirects and data count as signs of life, and
    // expiry aborts the reply (its finished() then sees timedOut()). A child of the reply.
    static TransferLimits *watch(QNetworkReply *reply, std::chrono::milliseconds idleLimit,
                                 std::optional<std::chrono::milliseconds> totalLimit = std::nullopt);

    [[nodiscard]] bool timedOut() const { return hasExpired; }

Q_SIGNALS:
    void expired();

private:
    TransferLimits(std::chrono::milliseconds idleLimit,
                   std::optional<std::chrono::milliseconds> totalLimit, QObject *parent);
    // A sign of life: the idle limit starts again.
    void stillAlive();
    // The transfer has ended: nothing expires any more.
    void stop();

    void expire();

    QTimer *idleTimer;
    QTimer *totalTimer = nullptr;
    bool hasExpired = false;
};

// The most redirects any request follows.
inline constexpr int transferRedirectLimit = 10;

// How a body may travel: the manifest may come compressed (Qt decodes it); a package's bytes
// must be the server's own, as a range and the digest refer to those.
enum class BodyEncoding { Any, Identity };

// A GET as every request of this program is made: redirects only to https and at most
// transferRedirectLimit of them, never answered from a cache nor kept in one. (Qt then sends
// "Cache-Control: no-cache", so no cache on the way answers it either: a stale manifest would
// offer an old version.)
[[nodiscard]] QNetworkRequest transferRequest(const QUrl &url, BodyEncoding encoding);

// The HTTP status of the answer that arrived (200, 206, 404...); absent when none did
// (refused, unreachable, TLS, timed out before the headers).
[[nodiscard]] std::optional<int> httpStatus(const QNetworkReply &reply);

// Reads all that `reply` has to give into `body`, which may grow to `limit` bytes; beyond that
// the reply is aborted (its finished() comes before this returns) and false is returned.
[[nodiscard]] bool readWithin(QNetworkReply &reply, QByteArray &body, qint64 limit);

// Lets go of a transfer `receiver` no longer wants: the reply is disconnected from it and
// aborted, so nothing the reply says from here on reaches `receiver` (abort() sends finished()
// before it returns), and is deleted once control is back in the event loop, since this may
// run inside one of its own signals; its children (a TransferLimits) go with it. `reply` is
// null afterwards; a null `reply` is left as it is.
void abandonReply(QNetworkReply *&reply, const QObject *receiver);

// Qt's own words for a time-out, in the user's language where Qt has a translation.
[[nodiscard]] QString timeoutDescription();

// Why a finished reply brought no answer, in the network layer's words; absent when an answer
// arrived (also one with an HTTP error status, whose body is read like any other). `limits`
// may be null.
[[nodiscard]] std::optional<QString> transferFailure(const QNetworkReply &reply,
                                                     const TransferLimits *limits);

}  // namespace quillmere
