#pragma once

#include <QString>

namespace quillmere {

// The window's texts while a package downloads. Pure.

// "正在下载 " + version + "…"
[[nodiscard]] QString downloadStartText(const QString &version);

// The start text followed by " W / T MB", in whole mebibytes, truncated. `version` may be empty
// (no release held).
[[nodiscard]] QString downloadProgressText(qint64 written, qint64 total, const QString &version);

// written / total × 100, not clamped: a server that sends more than it announced goes past 100.
// `total` is at least 1.
[[nodiscard]] double downloadPercentage(qint64 written, qint64 total);

[[nodiscard]] QString downloadFailureMessage(const QString &description);
[[nodiscard]] QString incompleteDownloadMessage();

}  // namespace quillmere
