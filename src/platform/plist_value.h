#pragma once

#include <QString>

#include <optional>

namespace quillmere {

// The trimmed value of a top-level key of appPath's Contents/Info.plist; absent when the
// bundle, the file or the key is missing, or the value is empty once trimmed.
[[nodiscard]] std::optional<QString> plistValue(const QString &appPath, const QString &key);

}  // namespace quillmere
