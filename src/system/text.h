#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// Decodes bytes as strict UTF-8; absent when any sequence is invalid or cut short.
// A leading byte order mark is dropped.
[[nodiscard]] std::optional<QString> decodeUtf8(const QByteArray &bytes);

// Removes whitespace and line breaks from both ends: tab, line feed, vertical tab, form feed,
// carriage return and space, NEL (U+0085), and every Unicode separator (the spaces such as
// U+00A0 and U+3000, and U+2028, U+2029). Other control characters stay.
[[nodiscard]] QString trimmedText(const QString &text);

// A size in bytes: ASCII decimal digits only (leading zeros allowed; no sign, no space, no
// other script's digits), within an int64. Absent for anything else.
[[nodiscard]] std::optional<std::int64_t> parseSize(const QString &digits);

}  // namespace quillmere
