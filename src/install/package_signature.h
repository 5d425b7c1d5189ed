#pragma once

#include <QByteArray>
#include <QString>

namespace quillmere {

// Whether the file at signaturePath holds the Base64 of a 64-byte Ed25519 signature (one line;
// a final line feed is allowed, nothing else) that publicKey (raw, packagePublicKeySize bytes) made over the bytes
// of the file at packagePath. False for anything unreadable, malformed or not matching.
[[nodiscard]] bool packageSignatureValid(const QString &packagePath, const QString &signaturePath,
                                         const QByteArray &publicKey);

}  // namespace quillmere
