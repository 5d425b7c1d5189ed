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

}  // namespace quillmere::test
