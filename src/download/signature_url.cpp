#include "download/signature_url.h"

namespace quillmere {

using namespace Qt::StringLiterals;

QUrl signatureURL(const QUrl &packageURL)
{
    QUrl url = packageURL;
    url.setPath(packageURL.path(QUrl::FullyEncoded) + u".sig"_s, QUrl::TolerantMode);
    return url;
}

}  // namespace quillmere
