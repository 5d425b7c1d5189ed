#include "install/package_check.h"

namespace quillmere {

std::optional<ExpectedPackage> expectedPackage(std::optional<std::int64_t> size,
                                               const std::optional<QString> &sha512Base64)
{
    if (!sha512Base64)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(sha512Base64->toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 64)
        return std::nullopt;
    return ExpectedPackage{size, decoded.decoded};
}

bool packageMatches(const ExpectedPackage &expected, qint64 size, const QByteArray &sha512)
{
    return (!expected.size || *expected.size == size) && sha512 == expected.sha512;
}

}  // namespace quillmere
