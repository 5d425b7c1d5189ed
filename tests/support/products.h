#pragma once

#include "system/product.h"

namespace quillmere::test {

// A product whose server is `base` (a folder URL ending in "/updates/") and whose install
// folder is `installFolder`.
inline Product productFor(const QUrl &base, const QString &installFolder)
{
    const auto product = makeProduct({base.resolved(QUrl(QStringLiteral("latest-mac.yml"))).toString(),
                                      base.toString(), QStringLiteral("com.quillmere.desktop"), installFolder});
    Q_ASSERT(product);
    return *product;
}

// A product whose server refuses every connection (port 9 on the loopback) and whose install
// folder does not exist.
inline Product offlineProduct()
{
    return productFor(QUrl(QStringLiteral("https://127.0.0.1:9/updates/")), QStringLiteral("/nonexistent"));
}

}  // namespace quillmere::test
