#pragma once

#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace quillmere {

// The latest release as the update manifest describes it; built whole by parseRelease.
struct Release {
    QString version;                     // required, trimmed, shown as it stands
    QUrl zipURL;                         // downloadBase with zipName appended
    QString zipName;                     // the package's file name as the manifest writes it
    std::optional<std::int64_t> sizeBytes;
    std::optional<QString> sha512Base64; // carried only; nothing checks the package against it

    friend bool operator==(const Release &, const Release &) = default;
};

}  // namespace quillmere
