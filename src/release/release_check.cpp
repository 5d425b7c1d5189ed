#include "ui/installer_controller.h"

#include "release/manifest.h"
#include "release/offer.h"
#include "release/plist_value.h"
#include "release/text.h"
#include "ui/spinner.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace quillmere {

using namespace Qt::StringLiterals;

void InstallerController::fetchMetadata()
{
    isWorking = true;
    actionButton->setEnabled(false);
    spinner->startAnimation();
    statusLabel->setText(u"正在获取最新版本…"_s);
    actionButton->setText(u"安装"_s);

    QNetworkRequest request(product_.metadataURL);
    // Never answered from a cache, ours or one on the way: a stale manifest would offer an
    // old version.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy); // never https to http
    QNetworkReply *reply = sharedSession_->get(request);

    // Qt's own transfer time-out ends the reply as "operation canceled", the same as an
    // abort, so the time-out is kept here: any sign of life restarts it.
    auto *watchdog = new QTimer(reply);
    watchdog->setSingleShot(true);
    watchdog->start(networkTimeout_);
    auto timedOut = std::make_shared<bool>(false);
    auto stillAlive = [watchdog] { watchdog->start(); };
    connect(reply, &QNetworkReply::metaDataChanged, watchdog, stillAlive);
    connect(reply, &QNetworkReply::downloadProgress, watchdog, stillAlive);
    connect(reply, &QNetworkReply::encrypted, watchdog, stillAlive);
    connect(reply, &QNetworkReply::redirected, watchdog, stillAlive);
    connect(watchdog, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    // The controller is the context: once it is gone the answer is dropped unread.
    connect(reply, &QNetworkReply::finished, this, [this, reply, timedOut] {
        reply->deleteLater();
        finishMetadata(reply, *timedOut);
    });
}

void InstallerController::finishMetadata(QNetworkReply *reply, bool timedOut)
{
    isWorking = false;
    actionButton->setEnabled(true);
    spinner->stopAnimation();

    if (timedOut) {
        showFailure(checkFailureMessage(timeoutDescription()));
        return;
    }
    // An answer with an HTTP error status still has a body, read like any other: a 404 page
    // ends in the format message, not in a network failure.
    if (reply->error() != QNetworkReply::NoError && !isHttpStatusError(reply->error())) {
        showFailure(checkFailureMessage(reply->errorString()));
        return;
    }
    const std::optional<QString> text = decodeUtf8(reply->readAll());
    const std::optional<Release> parsed =
        text ? parseRelease(*text, product_.downloadBase) : std::nullopt;
    if (!parsed) {
        showFailure(manifestFormatMessage());
        return;
    }
    release = parsed;

    // Synchronous on the main thread: a short local read, and the window must not change
    // under the user while the offer is decided.
    const std::optional<QString> installed =
        plistValue(product_.installPath, u"CFBundleShortVersionString"_s);
    const OfferTexts offer = offerTexts(installed, *release);
    statusLabel->setText(offer.status);
    detailLabel->setText(offer.detail);
    actionButton->setText(offer.button);
    actionButton->setEnabled(true);
}

}  // namespace quillmere
