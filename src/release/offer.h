#pragma once

#include "release/release.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// What the window shows once the release check has succeeded.
struct OfferTexts {
    QString status;
    QString detail;
    QString button;

    friend bool operator==(const OfferTexts &, const OfferTexts &) = default;
};

// Chooses install, reinstall or update by plain text equality of the versions (no ordering:
// an installed copy newer than the manifest's still gets the update offer).
[[nodiscard]] OfferTexts offerTexts(const std::optional<QString> &installedVersion,
                                    const Release &release);

// A size in whole mebibytes, halves rounded up; exact over the whole range of non-negative
// 64-bit sizes (the obvious (size + 2^19) / 2^20 would overflow at the top).
[[nodiscard]] std::int64_t roundedMebibytes(std::int64_t sizeBytes);

// " · N MB" for a known size, empty otherwise.
[[nodiscard]] QString sizeSuffix(std::optional<std::int64_t> sizeBytes);

// Messages of a failed release check.
[[nodiscard]] QString checkFailureMessage(const QString &description);
[[nodiscard]] QString manifestFormatMessage();

}  // namespace quillmere
