#include "ui/download_texts.h"

namespace quillmere {

using namespace Qt::StringLiterals;

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

}  // namespace quillmere
