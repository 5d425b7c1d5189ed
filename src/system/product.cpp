#include "system/product.h"

namespace quillmere {

using namespace Qt::StringLiterals;

std::optional<QUrl> parseServerURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    // Only https: the manifest decides what gets installed with administrator rights.
    if (!url.isValid() || url.isRelative() || url.scheme() != u"https" || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<Product> makeProduct(const ProductSettings &settings)
{
    const auto metadata = parseServerURL(settings.metadataURL);
    const auto base = parseServerURL(settings.downloadBase);
    const auto key = QByteArray::fromBase64Encoding(settings.packagePublicKey.toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!metadata || !base || !key || !(key.decoded.isEmpty() || key.decoded.size() == packagePublicKeySize))
        return std::nullopt;
    const QString appName = QString::fromUtf16(productAppName);
    return Product{*metadata, *base, appName, settings.bundleId,
                   settings.installFolder + u"/"_s + appName + u".app"_s, key.decoded};
}

}  // namespace quillmere
