#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillmere {

// Decodes bytes as strict UTF-8; absent when any sequence is invalid or cut short.
// A leading byte order mark is dropped.
[[nodiscard]] std::optional<QString> decodeUtf8(const QByteArray &bytes);

// Removes whitespace and line breaks from both ends: ASCII spaces and controls, every Unicode
// space separator, NEL (U+0085) and the line and paragraph separators (U+2028, U+2029).
[[nodiscard]] QString trimmedText(const QString &text);

}  // namespace quillmere
