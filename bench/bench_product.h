#pragma once

#include "app/trusted_authorities.h"
#include "system/product.h"

#include <QFile>
#include <QUrl>

#include <cstdio>
#include <optional>

namespace quillmere::bench {

// The product a driver installs: its manifest at `metadataUrl` (the packages beside it), its
// install folder `installFolder`, and the certificate authority in `caPemPath` trusted. Says
// on standard error why there is none.
inline std::optional<Product> benchProduct(const char *metadataUrl, const char *caPemPath,
                                           const QString &installFolder)
{
    QFile ca(QString::fromLocal8Bit(caPemPath));
    if (!ca.open(QIODevice::ReadOnly) || trustExtraAuthorities(ca.readAll()) == 0) {
        std::fprintf(stderr, "no certificate authority in %s\n", caPemPath);
        return std::nullopt;
    }
    const QUrl metadata(QString::fromLocal8Bit(metadataUrl));
    auto product = makeProduct({metadata.toString(), metadata.resolved(QUrl(QStringLiteral("."))).toString(),
                                QStringLiteral("com.quillmere.desktop"), installFolder, {}});
    if (!product)
        std::fprintf(stderr, "not an https URL: %s\n", metadataUrl);
    return product;
}

}  // namespace quillmere::bench
