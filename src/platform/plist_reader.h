#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillmere {

// The value of a top-level key of the property list file at plistPath, as text and not yet
// trimmed; absent when the file cannot be read or parsed, or holds no such key with a text,
// number or boolean value. Implemented once per platform.
[[nodiscard]] std::optional<QString> readPlistValue(const QString &plistPath,
                                                    const QString &key);

#ifndef QUILLMERE_PLATFORM_MACOS
// The same for the bytes of such a file, XML or binary: where libplist reads property lists,
// they are parsed in memory.
[[nodiscard]] std::optional<QString> readPlistValueFromBytes(const QByteArray &plistBytes,
                                                             const QString &key);
#endif

}  // namespace quillmere
