#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quillmere {

// What a publisher gives: the package zip as the build made it, the folder the update server
// serves, and optionally the PEM file of the Ed25519 secret key packages are signed with.
struct PublishRequest {
    QString zipPath;
    QString outputFolder;
    QString secretKeyPath;     // empty: no signature
    QString bundleId;          // the identifier the bundle in the zip must carry
    QDateTime releaseDate;     // written in UTC
};

// What was published.
struct PublishResult {
    QString error;             // empty when everything was written
    QString version;
    qint64 size = 0;
    qsizetype chunks = 0;
    qsizetype mapBytes = 0;
};

// Writes into outputFolder the zip byte for byte, <zip>.chunks (its chunk map), <zip>.sig with
// a key, and last latest-mac.yml; each file is written beside its place and renamed into it.
// Nothing is written when the zip holds no "Quillmere Desktop.app/Contents/Info.plist" with
// bundleId and a version, or when the name, the version or the key cannot be used.
[[nodiscard]] PublishResult publishPackage(const PublishRequest &request);

// The raw public key (packagePublicKeySize bytes) of the PEM Ed25519 secret key at path; empty when it is none.
[[nodiscard]] QByteArray packagePublicKeyOf(const QString &secretKeyPath);

}  // namespace quillmere
