#pragma once

#include "install/staging.h"

#include <QString>

#include <optional>

namespace quillmere {

// The window's texts while a package is staged and installed, and the messages of its
// failures. Pure.

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
[[nodiscard]] QString versionMismatchMessage();   // "安装包的版本与发布信息不符，已中止。"
[[nodiscard]] QString unsafePackageMessage();     // "安装包含有不安全的内容，已中止。"
[[nodiscard]] QString invalidSignatureMessage();  // "安装包的签名无效，已中止。"
[[nodiscard]] QString cannotRunHereMessage();     // "此版本无法在这台 Mac 上运行，已中止。"
// The message of a staging that did not end with a staged bundle; nothing when it did.
[[nodiscard]] std::optional<QString> stageFailureMessage(const StageOutcome &outcome,
                                                         const QString &appName);
[[nodiscard]] QString scriptFailureMessage(const QString &description);
// output: the privileged run's output, already trimmed
[[nodiscard]] QString installFailureMessage(const QString &output);

}  // namespace quillmere
