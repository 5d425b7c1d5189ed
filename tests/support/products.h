#pragma once

#include "system/product.h"

namespace quillmere::test {

// A product whose server is `base` (a folder URL ending in "/updates/") and whose install
// folder is `installFolder`; packages must be signed with `packageKey` (raw) unless it is empty.
inline Product productFor(const QUrl &base, const QString &installFolder, const QByteArray &packageKey = {})
{
    auto product = makeProduct({base.resolved(QUrl(QStringLiteral("latest-mac.yml"))).toString(),
                                base.toString(), QStringLiteral("com.quillmere.desktop"), installFolder, {}});
    Q_ASSERT(product);
    product->packagePublicKey = packageKey;
    return *product;
}

}  // namespace quillmere::test
