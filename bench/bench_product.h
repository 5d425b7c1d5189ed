#pragma once

#include "system/product.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace quillmere::bench {

// The product a driver installs: its manifest at `metadataURL` (the packages beside it), its
// install folder `installFolder`, and the certificate authority in `caPemPath` trusted alone,
// as the benchmarks' curl trusts it. Says on standard error why there is none.
//
// Not trustExtraAuthorities: it keeps the system roots trusted beside the added authority by
// listing them, which parses every one of them through Qt (about 290 certificates, some
// 100 ms here) before the first request. A shipped build adds no authority and leaves the
// roots to be looked up on demand during the handshake, so that cost belongs to demo and test
// builds only, and would swamp the start-up figure.
inline std::optional<Product> benchProduct(const char *metadataURL, const char *caPemPath,
                                           const QString &installFolder)
{
    QFile ca(QString::fromLocal8Bit(caPemPath));
    const QList<QSslCertificate> authorities =
        ca.open(QIODevice::ReadOnly) ? QSslCertificate::fromDevice(&ca, QSsl::Pem) : QList<QSslCertificate>();
    if (authorities.isEmpty()) {
        std::fprintf(stderr, "no certificate authority in %s\n", caPemPath);
        return std::nullopt;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(config);
    const QUrl metadata(QString::fromLocal8Bit(metadataURL));
    auto product = makeProduct({metadata.toString(), metadata.resolved(QUrl(QStringLiteral("."))).toString(),
                                QStringLiteral("com.quillmere.desktop"), installFolder, {}});
    if (!product)
        std::fprintf(stderr, "not an https URL: %s\n", metadataURL);
    return product;
}

}  // namespace quillmere::bench
