#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// What a downloaded package must be, from the manifest's entry for it.
struct ExpectedPackage {
    std::optional<qint64> size; // where the entry gives one
    QByteArray sha512;          // 64 bytes
};

// The entry is a promise only when its digest is one: Base64 of exactly 64 bytes. Then its
// size, where given, is checked too. An entry without a digest, or with one of another shape (a
// placeholder, say), checks nothing: absent. Pure.
[[nodiscard]] std::optional<ExpectedPackage> expectedPackage(std::optional<std::int64_t> size,
                                                             const std::optional<QString> &sha512Base64);

// Whether a downloaded package (its size and SHA-512) is the one expected. Pure.
[[nodiscard]] bool packageMatches(const ExpectedPackage &expected, qint64 size, const QByteArray &sha512);

}  // namespace quillmere
