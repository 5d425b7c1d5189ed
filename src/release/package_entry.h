#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// What the manifest says of one file it lists: its size and SHA-512 (base64, as written).
struct PackageEntry {
    std::optional<std::int64_t> sizeBytes;
    std::optional<QString> sha512Base64;

    friend bool operator==(const PackageEntry &, const PackageEntry &) = default;
};

// The manifest's own entry for the package `zipName`, read as YAML: the item of the top-level
// `files:` list whose `url` is that name, or else the top-level `sha512` when the top-level
// `path` names it. The manifest may list other files first (a dmg, say) with digests of their
// own. Absent when the text is not YAML, names no such entry, or the entry holds neither a
// size nor a digest. Pure: no I/O.
[[nodiscard]] std::optional<PackageEntry> findPackageEntry(const QString &manifestText, const QString &zipName);

}  // namespace quillmere
