#pragma once

#include "system/product.h"

#include <QUrl>

namespace quillmere::test {

// A product whose server is `base` (a folder URL ending in "/updates/") and whose install
// folder is `installFolder`.
[[nodiscard]] Product productFor(const QUrl &base, const QString &installFolder);

}  // namespace quillmere::test
