#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// Whether a downloaded package (its size and 64-byte SHA-512) is the one the manifest
// describes. A size or digest the manifest does not give is not compared; a digest that is
// not base64 of 64 bytes matches nothing. Pure.
[[nodiscard]] bool packageMatches(std::optional<std::int64_t> expectedSize,
                                  const std::optional<QString> &expectedSha512Base64, qint64 size,
                                  const QByteArray &sha512);

}  // namespace quillmere
