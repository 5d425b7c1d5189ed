#pragma once

#include "release/release.h"

#include <QNetworkReply>
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

// Whether the error only reports the HTTP status of an answer that did arrive (404, 500...),
// as opposed to a failure to get an answer at all (refused, unreachable, TLS, time-out).
// Such an answer's body is read like any other.
[[nodiscard]] bool isHttpStatusError(QNetworkReply::NetworkError error);

// Messages of a failed check.
[[nodiscard]] QString checkFailureMessage(const QString &description);
[[nodiscard]] QString manifestFormatMessage();

// Qt's own words for a time-out, in the user's language where Qt has a translation. Qt's
// transfer time-out reads "operation canceled"; a time-out must read as one.
[[nodiscard]] QString timeoutDescription();

}  // namespace quillmere
