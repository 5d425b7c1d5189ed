#include "app/build_settings.h"

#include "build_config.h"

namespace quillmere {

ProductSettings compiledProductSettings()
{
    return {QString::fromUtf8(build::metadataURL), QString::fromUtf8(build::downloadBase),
            QString::fromUtf8(build::bundleId), QString::fromUtf8(build::installDir),
            QString::fromUtf8(build::packagePublicKey)};
}

QByteArray compiledExtraAuthorities()
{
    return QByteArray(build::extraCaPem).trimmed();
}

}  // namespace quillmere
