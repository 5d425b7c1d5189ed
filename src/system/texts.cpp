#include "system/texts.h"

namespace quillmere {

using namespace Qt::StringLiterals;

QString installerWindowTitle(const QString &appName)
{
    return u"安装 "_s + appName;
}

QString preparingText()
{
    return u"准备中…"_s;
}

QString openedAfterInstallText()
{
    return u"安装完成后会自动打开。旧版本会被移到废纸篓。"_s;
}

QString installButtonText()
{
    return u"安装"_s;
}

QString cancelButtonText()
{
    return u"取消"_s;
}

QString retryButtonText()
{
    return u"重试"_s;
}

QString doneButtonText()
{
    return u"完成"_s;
}

QString quitItemText()
{
    return u"退出安装器"_s;
}

QString notCompletedText()
{
    return u"安装未完成"_s;
}

QString okButtonText()
{
    return u"好"_s;
}

QString installerWindowDescription(const QString &appName)
{
    return u"下载并安装 "_s + appName + u" 的最新版本。"_s;
}

QString iconName()
{
    return u"安装器图标"_s;
}

QString statusDescription()
{
    return u"当前状态"_s;
}

QString detailDescription()
{
    return u"详细说明"_s;
}

QString progressName()
{
    return u"下载进度"_s;
}

QString spinnerName()
{
    return u"正在处理"_s;
}

QString spinnerDescription()
{
    return u"安装器正在工作，请稍候。"_s;
}

QString actionButtonDescription()
{
    return u"执行按钮上所写的操作，也可以按回车键。"_s;
}

QString cancelButtonDescription()
{
    return u"退出安装器，正在进行的下载会停止；也可以按 Esc 键。"_s;
}

QString checkingText()
{
    return u"正在获取最新版本…"_s;
}

OfferTexts offerTexts(const std::optional<QString> &installedVersion, const QString &version,
                      const QString &zipName, std::optional<std::int64_t> sizeBytes)
{
    if (!installedVersion)
        return {u"最新版本 "_s + version, zipName + sizeSuffix(sizeBytes),
                installButtonText()};
    // Canonically equivalent texts count as the same version.
    if (installedVersion->normalized(QString::NormalizationForm_C)
        == version.normalized(QString::NormalizationForm_C))
        return {u"已安装 "_s + version,
                u"当前已是最新版本。重新安装会覆盖现有副本，登录状态与设置都会保留。"_s,
                u"重新安装"_s};
    return {u"可以更新："_s + *installedVersion + u" → "_s + version,
            zipName + sizeSuffix(sizeBytes), u"更新"_s};
}

std::int64_t roundedMebibytes(std::int64_t sizeBytes)
{
    constexpr std::int64_t mebibyte = 1048576;
    return sizeBytes / mebibyte + (sizeBytes % mebibyte >= mebibyte / 2 ? 1 : 0);
}

QString sizeSuffix(std::optional<std::int64_t> sizeBytes)
{
    if (!sizeBytes)
        return {};
    return u" · "_s + QString::number(roundedMebibytes(*sizeBytes)) + u" MB"_s;
}

QString checkFailureMessage(const QString &description)
{
    return u"无法获取版本信息："_s + description;
}

QString manifestFormatMessage()
{
    return u"版本信息格式不正确，请稍后重试。"_s;
}

QString downloadStartText(const QString &version)
{
    return u"正在下载 "_s + version + u"…"_s;
}

QString downloadProgressText(qint64 written, qint64 total, const QString &version)
{
    constexpr qint64 mebibyte = 1048576;
    return downloadStartText(version) + u' ' + QString::number(written / mebibyte) + u" / "_s
        + QString::number(total / mebibyte) + u" MB"_s;
}

double downloadPercentage(qint64 written, qint64 total)
{
    return double(written) / double(total) * 100.0;
}

QString downloadFailureMessage(const QString &description)
{
    return u"下载失败："_s + description;
}

QString incompleteDownloadMessage()
{
    return u"下载的文件不完整，请重试。"_s;
}

QString verifyingText()
{
    return u"正在校验…"_s;
}

QString installingText()
{
    return u"正在安装…"_s;
}

QString adminRightsText()
{
    return u"需要管理员权限才能写入「应用程序」文件夹。"_s;
}

QString cancelledText()
{
    return u"已取消安装"_s;
}

QString nothingChangedText()
{
    return u"没有做任何更改。"_s;
}

QString completedText()
{
    return u"安装完成"_s;
}

QString installedText(const QString &appName, const QString &version)
{
    return appName + u' ' + version + u" 已安装到「应用程序」并已启动。"_s;
}

QString stageDirectoryFailureMessage(const QString &description)
{
    return u"无法创建临时目录："_s + description;
}

QString unpackFailureMessage()
{
    return u"解压失败，安装包可能未下载完整。请重试。"_s;
}

QString packageMismatchMessage()
{
    return u"下载的文件与发布信息不符，请重试。"_s;
}

QString missingBundleMessage(const QString &appName)
{
    return u"安装包里没有 "_s + appName + u"。"_s;
}

QString identifierMismatchMessage()
{
    return u"安装包的标识不匹配，已中止。"_s;
}

QString versionMismatchMessage()
{
    return u"安装包的版本与发布信息不符，已中止。"_s;
}

QString unsafePackageMessage()
{
    return u"安装包含有不安全的内容，已中止。"_s;
}

QString invalidSignatureMessage()
{
    return u"安装包的签名无效，已中止。"_s;
}

QString cannotRunHereMessage()
{
    return u"此版本无法在这台 Mac 上运行，已中止。"_s;
}

QString notRunnableMessage(const QString &executable)
{
    return u"无法启动："_s + executable + u" 不存在或不可执行。"_s;
}

QString scriptFailureMessage(const QString &description)
{
    return u"无法准备安装脚本："_s + description;
}

QString installFailedText(const QString &output)
{
    return u"安装失败："_s + output;
}

}  // namespace quillmere
