#pragma once

#include <QObject>
#include <QString>

#include <QNetworkReply>

#include <chrono>
#include <optional>

QT_BEGIN_NAMESPACE
class QTimer;
QT_END_NAMESPACE

namespace quillmere {

// Ends a transfer that goes quiet for longer than the idle limit, or that takes longer than
// the total limit in all, by aborting the reply. Qt's own transfer time-out reports itself as
// "operation canceled", the same words as a cancellation, so the limits are kept here and
// timedOut() tells a time-out apart. Lives as a child of the reply; main thread only.
class TransferLimits : public QObject {
    Q_OBJECT
public:
    // Starts watching at once. Headers, TLS progress, redirects and data count as signs of life.
    static TransferLimits *watch(QNetworkReply *reply, std::chrono::milliseconds idleLimit,
                                 std::optional<std::chrono::milliseconds> totalLimit = std::nullopt);

    // Whether a limit ended the transfer. Already true when the reply's finished() runs.
    [[nodiscard]] bool timedOut() const { return timedOut_; }

private:
    explicit TransferLimits(QNetworkReply *reply);
    void expire();

    QNetworkReply *reply_;
    QTimer *idle_;
    bool timedOut_ = false;
};

// Whether the error only reports the HTTP status of an answer that did arrive (404, 500...),
// as opposed to a failure to get an answer at all (refused, unreachable, TLS, time-out).
// Such an answer's body is read like any other.
[[nodiscard]] bool isHttpStatusError(QNetworkReply::NetworkError error);

// Qt's own words for a time-out, in the user's language where Qt has a translation.
[[nodiscard]] QString timeoutDescription();

// Why a finished reply brought no answer, in the network layer's words; absent when an answer
// arrived (also one with an HTTP error status). `limits` may be null.
[[nodiscard]] std::optional<QString> transferFailure(const QNetworkReply &reply,
                                                     const TransferLimits *limits);

}  // namespace quillmere
