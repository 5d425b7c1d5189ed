#include "release/offer.h"

namespace quillmere {

using namespace Qt::StringLiterals;

OfferTexts offerTexts(const std::optional<QString> &installedVersion, const Release &release)
{
    if (!installedVersion)
        return {u"最新版本 "_s + release.version, release.zipName + sizeSuffix(release.sizeBytes),
                u"安装"_s};
    // Canonically equivalent texts count as the same version.
    if (installedVersion->normalized(QString::NormalizationForm_C)
        == release.version.normalized(QString::NormalizationForm_C))
        return {u"已安装 "_s + release.version,
                u"当前已是最新版本。重新安装会覆盖现有副本，登录状态与设置都会保留。"_s,
                u"重新安装"_s};
    return {u"可以更新："_s + *installedVersion + u" → "_s + release.version,
            release.zipName + sizeSuffix(release.sizeBytes), u"更新"_s};
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

}  // namespace quillmere
