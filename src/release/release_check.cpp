#include "release/release_check.h"

#include "release/manifest.h"
#include "system/text.h"
#include "system/transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <memory>

namespace quillmere {

ReleaseCheck::ReleaseCheck(QUrl manifest, QUrl packageBase, QObject *parent)
    : QObject(parent),
      metadataURL(std::move(manifest)),
      downloadBase(std::move(packageBase)),
      session(new QNetworkAccessManager(this))
{
}

void ReleaseCheck::start()
{
    QNetworkReply *reply = session->get(transferRequest(metadataURL, BodyEncoding::Any));
    // The network thread reads no further ahead than this, so an answer that goes on and on
    // costs no more memory than the bound before it is cut off there.
    reply->setReadBufferSize(64 * 1024);
    const TransferLimits *limits = TransferLimits::watch(reply, idleLimit);
    // The body so far; one byte beyond the bound once it was cut off.
    auto body = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this,
            [reply, body] { (void)readWithin(*reply, *body, manifestByteLimit); });

    connect(reply, &QNetworkReply::finished, this, [this, reply, limits, body] {
        reply->deleteLater();
        const auto bad = [this] {
            Q_EMIT finished({ReleaseCheckResult::Status::BadManifest, std::nullopt, {}, std::nullopt});
        };
        // No manifest is that long: whatever the answer was, it is not one.
        if (body->size() > manifestByteLimit)
            return bad();
        if (const std::optional<QString> failure = transferFailure(*reply, limits)) {
            Q_EMIT finished({ReleaseCheckResult::Status::NoAnswer, std::nullopt, *failure, std::nullopt});
            return;
        }
        // An answer with an HTTP error status still has a body, read like any other: a 404
        // page ends as a bad manifest, not as a network failure.
        if (!readWithin(*reply, *body, manifestByteLimit))
            return bad();
        const std::optional<QString> text = decodeUtf8(*body);
        std::optional<Release> release = text ? parseRelease(*text, downloadBase) : std::nullopt;
        if (!release)
            return bad();
        std::optional<PackageEntry> entry = findPackageEntry(*text, release->zipName);
        Q_EMIT finished({ReleaseCheckResult::Status::Found, std::move(release), {}, std::move(entry)});
    });
}

}  // namespace quillmere
