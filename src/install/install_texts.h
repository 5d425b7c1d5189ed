#pragma once

#include <QString>

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
[[nodiscard]] QString scriptFailureMessage(const QString &description);
// output: the privileged run's output, already trimmed
[[nodiscard]] QString installFailureMessage(const QString &output);

}  // namespace quillmere
