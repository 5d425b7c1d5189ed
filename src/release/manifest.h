#pragma once

#include "release/release.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace quillmere {

// Reads the latest release from the text of the update manifest. Each field is the first
// match of its own search over the whole text (version, the first "- url:" naming a .zip, the
// first indented size, the first unquoted sha512), so keys may come in any order and whatever
// the manifest lists before the zip does not hide it. Without a version or a zip there is no
// release, never a partial one; a size or digest that is missing or unusable is simply absent.
// zipURL is downloadBase with the zip's name appended as a path component. Pure: no I/O.
[[nodiscard]] std::optional<Release> parseRelease(const QString &manifestText, const QUrl &downloadBase);

}  // namespace quillmere
