#include "install/install_texts.h"

namespace quillmere {

using namespace Qt::StringLiterals;

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

std::optional<QString> stageFailureMessage(const StageOutcome &outcome, const QString &appName)
{
    switch (outcome.status) {
    case StageOutcome::Status::Staged:
        return std::nullopt;
    case StageOutcome::Status::NoStageDirectory:
        return stageDirectoryFailureMessage(outcome.errorDescription);
    case StageOutcome::Status::UnpackFailed:
        return unpackFailureMessage();
    case StageOutcome::Status::Unsafe:
        return unsafePackageMessage();
    case StageOutcome::Status::NoBundle:
        return missingBundleMessage(appName);
    case StageOutcome::Status::IdentifierMismatch:
        return identifierMismatchMessage();
    case StageOutcome::Status::CannotRunHere:
        return cannotRunHereMessage();
    case StageOutcome::Status::VersionMismatch:
        return versionMismatchMessage();
    }
    return std::nullopt;
}

QString scriptFailureMessage(const QString &description)
{
    return u"无法准备安装脚本："_s + description;
}

QString installFailureMessage(const QString &output)
{
    return u"安装失败："_s + output;
}

}  // namespace quillmere
