#pragma once

#include <QUrl>

namespace quillmere {

// Where a package's signature is published: its URL with ".sig" added to the path (encoded as
// the path is). Pure.
[[nodiscard]] QUrl signatureURL(const QUrl &packageURL);

}  // namespace quillmere
