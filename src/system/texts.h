#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quillmere {

// Every text the user sees or hears, each written once here. The composing functions are pure.

// The window and its controls.
[[nodiscard]] QString installerWindowTitle(const QString &appName);               // "安装 " + appName
[[nodiscard]] QString preparingText();                                   // the status before the first check
[[nodiscard]] QString openedAfterInstallText();                          // the detail before the first check
[[nodiscard]] QString installButtonText();                               // "安装"
[[nodiscard]] QString cancelButtonText();                                // "取消"
[[nodiscard]] QString retryButtonText();                                 // "重试"
[[nodiscard]] QString doneButtonText();                                  // "完成"
[[nodiscard]] QString quitItemText();                                    // the menu's quit item
[[nodiscard]] QString notCompletedText();                                // a failure's status and alert title
[[nodiscard]] QString okButtonText();                                    // the alert's button

// What a screen reader says beyond the views' own texts.
[[nodiscard]] QString installerWindowDescription(const QString &appName);
[[nodiscard]] QString iconName();
[[nodiscard]] QString statusDescription();
[[nodiscard]] QString detailDescription();
[[nodiscard]] QString progressName();
[[nodiscard]] QString spinnerName();
[[nodiscard]] QString spinnerDescription();
[[nodiscard]] QString actionButtonDescription();
[[nodiscard]] QString cancelButtonDescription();

// The release check.
[[nodiscard]] QString checkingText();                                    // "正在获取最新版本…"
[[nodiscard]] QString checkFailureMessage(const QString &description);
[[nodiscard]] QString manifestFormatMessage();

// What the window shows once the release check has succeeded.
struct OfferTexts {
    QString status;
    QString detail;
    QString button;

    friend bool operator==(const OfferTexts &, const OfferTexts &) = default;
};

// Chooses install, reinstall or update by plain text equality of the versions (no ordering:
// an installed copy newer than the manifest's still gets the update offer).
[[nodiscard]] OfferTexts offerTexts(const std::optional<QString> &installedVersion, const QString &version,
                                    const QString &zipName, std::optional<std::int64_t> sizeBytes);

// A size in whole mebibytes, halves rounded up; exact over the whole range of non-negative
// 64-bit sizes (the obvious (size + 2^19) / 2^20 would overflow at the top).
[[nodiscard]] std::int64_t roundedMebibytes(std::int64_t sizeBytes);

// " · N MB" for a known size, empty otherwise.
[[nodiscard]] QString sizeSuffix(std::optional<std::int64_t> sizeBytes);

// The download. "正在下载 " + version + "…"
[[nodiscard]] QString downloadStartText(const QString &version);
// The start text followed by " W / T MB", in whole mebibytes, truncated. `version` may be empty
// (no release held).
[[nodiscard]] QString downloadProgressText(qint64 written, qint64 total, const QString &version);
// written / total × 100, not clamped: a server that sends more than it announced goes past 100.
// `total` is at least 1.
[[nodiscard]] double downloadPercentage(qint64 written, qint64 total);
[[nodiscard]] QString downloadFailureMessage(const QString &description);
[[nodiscard]] QString incompleteDownloadMessage();

// Verifying, staging and installing.
[[nodiscard]] QString verifyingText();       // "正在校验…"
[[nodiscard]] QString installingText();      // "正在安装…"
[[nodiscard]] QString adminRightsText();     // why the password prompt comes
[[nodiscard]] QString cancelledText();       // "已取消安装"
[[nodiscard]] QString nothingChangedText();  // "没有做任何更改。"
[[nodiscard]] QString completedText();       // "安装完成"
// appName + " " + version + " 已安装到「应用程序」并已启动。"
[[nodiscard]] QString installedText(const QString &appName, const QString &version);

// description: the platform's words for the error.
[[nodiscard]] QString stageDirectoryFailureMessage(const QString &description);
[[nodiscard]] QString unpackFailureMessage();
[[nodiscard]] QString packageMismatchMessage(); // the package is not the one the manifest describes
// appName without ".app"
[[nodiscard]] QString missingBundleMessage(const QString &appName);
[[nodiscard]] QString identifierMismatchMessage();
[[nodiscard]] QString versionMismatchMessage();
[[nodiscard]] QString unsafePackageMessage();
[[nodiscard]] QString invalidSignatureMessage();
[[nodiscard]] QString cannotRunHereMessage();
// executable: the new copy's, which is missing or cannot be run
[[nodiscard]] QString notRunnableMessage(const QString &executable);
[[nodiscard]] QString scriptFailureMessage(const QString &description);
// output: the privileged run's output, already trimmed
[[nodiscard]] QString installFailedText(const QString &output);

}  // namespace quillmere
