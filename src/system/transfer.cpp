#include "system/transfer.h"

#include <QCoreApplication>
#include <QTimer>

namespace quillmere {

TransferLimits::TransferLimits(QNetworkReply *reply)
    : QObject(reply), reply_(reply), idle_(new QTimer(this))
{
}

TransferLimits *TransferLimits::watch(QNetworkReply *reply, std::chrono::milliseconds idleLimit,
                                      std::optional<std::chrono::milliseconds> totalLimit)
{
    auto *limits = new TransferLimits(reply);
    QTimer *idle = limits->idle_;
    idle->setSingleShot(true);
    idle->start(idleLimit);
    auto stillAlive = [idle] { idle->start(); };
    connect(reply, &QNetworkReply::metaDataChanged, idle, stillAlive);
    connect(reply, &QNetworkReply::downloadProgress, idle, stillAlive);
    connect(reply, &QNetworkReply::encrypted, idle, stillAlive);
    connect(reply, &QNetworkReply::redirected, idle, stillAlive);
    connect(idle, &QTimer::timeout, limits, &TransferLimits::expire);
    if (totalLimit) {
        auto *total = new QTimer(limits);
        total->setSingleShot(true);
        total->start(*totalLimit);
        connect(total, &QTimer::timeout, limits, &TransferLimits::expire);
    }
    // Once the reply has ended nothing must abort it any more.
    connect(reply, &QNetworkReply::finished, limits, [limits] {
        for (QTimer *timer : limits->findChildren<QTimer *>())
            timer->stop();
    });
    return limits;
}

void TransferLimits::expire()
{
    if (reply_->isFinished())
        return;
    timedOut_ = true;
    reply_->abort(); // emits finished() before it returns
}

bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    // Qt groups its errors by hundreds: 2xx are content errors (403, 404, 409, 410...),
    // 4xx server errors (500, 501, 503...). Both come from a status line that arrived.
    // ProtocolFailure and the connection and proxy errors mean no usable answer.
    const int code = int(error);
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError
            && error != QNetworkReply::ContentReSendError)
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError)
        || error == QNetworkReply::ProtocolInvalidOperationError; // 400 Bad Request
}

QString timeoutDescription()
{
    // Qt's transfer time-out reads "operation canceled"; this one has a translation that
    // reads as a time-out.
    return QCoreApplication::translate("QAbstractSocket", "Socket operation timed out");
}

std::optional<QString> transferFailure(const QNetworkReply &reply, const TransferLimits *limits)
{
    if (limits && limits->timedOut())
        return timeoutDescription();
    if (reply.error() == QNetworkReply::NoError || isHttpStatusError(reply.error()))
        return std::nullopt;
    return reply.errorString();
}

}  // namespace quillmere
