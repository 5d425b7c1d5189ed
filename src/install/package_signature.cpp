#include "install/package_signature.h"

#include "system/product.h"
#include "system/transfer.h"

#include <QFile>

#include <sodium.h>

namespace quillmere {

static_assert(packagePublicKeySize == crypto_sign_PUBLICKEYBYTES);

bool packageSignatureValid(const QString &packagePath, const QString &signaturePath,
                           const QByteArray &publicKey)
{
    if (publicKey.size() != packagePublicKeySize || sodium_init() < 0)
        return false;
    QFile signatureFile(signaturePath);
    // The server chose what this file holds: no more of it is read than a signature needs.
    if (!signatureFile.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = signatureFile.read(signatureByteLimit);
    if (!signatureFile.atEnd())
        return false;
    if (text.endsWith('\n'))
        text.chop(1);
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != crypto_sign_BYTES)
        return false;

    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly))
        return false;
    // Ed25519 signs the whole message at once; mapped, a large package costs no copy in memory.
    const qint64 size = package.size();
    const uchar *bytes = size > 0 ? package.map(0, size) : reinterpret_cast<const uchar *>("");
    if (!bytes)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
                                       bytes, static_cast<unsigned long long>(size),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

}  // namespace quillmere
