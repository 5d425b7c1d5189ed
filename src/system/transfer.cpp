#include "system/transfer.h"

#include <QCoreApplication>
#include <QTimer>

namespace quillmere {

TransferLimits::TransferLimits(std::chrono::milliseconds idleLimit,
                               std::optional<std::chrono::milliseconds> totalLimit, QObject *parent)
    : QObject(parent), idleTimer(new QTimer(this))
{
    idleTimer->setSingleShot(true);
    idleTimer->setInterval(idleLimit);
    connect(idleTimer, &QTimer::timeout, this, &TransferLimits::expire);
    idleTimer->start();
    if (totalLimit) {
        totalTimer = new QTimer(this);
        totalTimer->setSingleShot(true);
        connect(totalTimer, &QTimer::timeout, this, &TransferLimits::expire);
        totalTimer->start(*totalLimit);
    }
}

TransferLimits *TransferLimits::watch(QNetworkReply *reply, std::chrono::milliseconds idleLimit,
                                      std::optional<std::chrono::milliseconds> totalLimit)
{
    auto *limits = new TransferLimits(idleLimit, totalLimit, reply);
    for (auto signal : {&QNetworkReply::metaDataChanged, &QNetworkReply::encrypted})
        connect(reply, signal, limits, &TransferLimits::stillAlive);
    connect(reply, &QNetworkReply::downloadProgress, limits, &TransferLimits::stillAlive);
    connect(reply, &QNetworkReply::redirected, limits, &TransferLimits::stillAlive);
    connect(reply, &QNetworkReply::finished, limits, &TransferLimits::stop);
    // abort() emits finished() before it returns, with timedOut() already true.
    connect(limits, &TransferLimits::expired, reply, &QNetworkReply::abort);
    return limits;
}

void TransferLimits::stillAlive()
{
    if (idleTimer->isActive())
        idleTimer->start();
}

void TransferLimits::stop()
{
    idleTimer->stop();
    if (totalTimer)
        totalTimer->stop();
}

void TransferLimits::expire()
{
    stop();
    hasExpired = true;
    Q_EMIT expired();
}

namespace {

// Whether the error only reports the HTTP status of the answer that arrived (404, 500...), as
// opposed to a failure on the way (reset, TLS, a body cut short).
bool reportsHttpStatus(QNetworkReply::NetworkError error)
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

}  // namespace

QNetworkRequest transferRequest(const QUrl &url, BodyEncoding encoding)
{
    QNetworkRequest request(url);
    // Never less safe than the first URL (https to http), and never more than the limit.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(transferRedirectLimit);
    // A stale answer would offer an old version or mix two files' bytes.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    if (encoding == BodyEncoding::Identity)
        request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

std::optional<int> httpStatus(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

bool readWithin(QNetworkReply &reply, QByteArray &body, qint64 limit)
{
    // One byte more than the limit tells a body that ends at the limit from one that goes on.
    body += reply.read(limit + 1 - body.size());
    if (body.size() <= limit)
        return true;
    reply.abort();
    return false;
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
    if (reply.error() == QNetworkReply::NoError || (httpStatus(reply) && reportsHttpStatus(reply.error())))
        return std::nullopt;
    return reply.errorString();
}

void abandonReply(QNetworkReply *&reply, const QObject *receiver)
{
    if (!reply)
        return;
    reply->disconnect(receiver);
    reply->abort();
    reply->deleteLater();
    reply = nullptr;
}

}  // namespace quillmere
