#include "install/package_check.h"

namespace quillmere {

bool packageMatches(std::optional<std::int64_t> expectedSize,
                    const std::optional<QString> &expectedSha512Base64, qint64 size,
                    const QByteArray &sha512)
{
    if (expectedSize && *expectedSize != size)
        return false;
    if (!expectedSha512Base64)
        return true;
    const auto decoded = QByteArray::fromBase64Encoding(expectedSha512Base64->toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 64 && decoded.decoded == sha512;
}

}  // namespace quillmere
