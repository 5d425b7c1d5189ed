#include "publish.h"

#include "download/chunk_map.h"
#include "platform/plist_reader.h"
#include "release/manifest.h"
#include "system/product.h"
#include "system/sha512.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace quillmere {

namespace {

constexpr qint64 maxPlistBytes = 1 << 20;

struct PemKey {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, EVP_PKEY_free};
};

// The Ed25519 key of a PEM file such as `openssl genpkey -algorithm ed25519` writes.
PemKey readSecretKey(const QString &path)
{
    PemKey result;
    std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(QFile::encodeName(path).constData(), "r"), BIO_free);
    if (file)
        result.key.reset(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (result.key && EVP_PKEY_get_id(result.key.get()) != EVP_PKEY_ED25519)
        result.key.reset();
    return result;
}

// The bytes of the bundle's Info.plist inside the zip; absent when the zip cannot be read or
// holds no such regular file of a sane size.
std::optional<QByteArray> infoPlistOf(const QString &zipPath, const QString &entryName)
{
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(zipPath).constData(), 64 * 1024) != ARCHIVE_OK)
        return std::nullopt;
    archive_entry *entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        const char *name = archive_entry_pathname_utf8(entry);
        if (!name || QString::fromUtf8(name) != entryName)
            continue;
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_size(entry) > maxPlistBytes)
            return std::nullopt;
        QByteArray bytes(archive_entry_size(entry), Qt::Uninitialized);
        if (archive_read_data(reader.get(), bytes.data(), size_t(bytes.size())) != bytes.size())
            return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

// Where libplist reads property lists they are parsed in memory; a Mac's tool reads a file.
std::optional<QString> plistValueOf(const QByteArray &plist, const QString &key)
{
#ifdef QUILLMERE_PLATFORM_MACOS
    QTemporaryDir dir;
    QFile file(dir.filePath(u"Info.plist"_s));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(plist) != plist.size())
        return std::nullopt;
    file.close();
    std::optional<QString> value = readPlistValue(file.fileName(), key);
#else
    std::optional<QString> value = readPlistValueFromBytes(plist, key);
#endif
    if (value)
        value = value->trimmed();
    return value;
}

QString manifestText(const QString &version, const QString &name, const QString &sha512, qint64 size,
                     const QDateTime &date)
{
    return u"version: %1\nfiles:\n  - url: %2\n    sha512: %3\n    size: %4\npath: %2\nsha512: %3\nreleaseDate: '%5'\n"_s
        .arg(version, name, sha512, QString::number(size), date.toUTC().toString(Qt::ISODateWithMs));
}

PublishResult failed(const QString &error)
{
    PublishResult result;
    result.error = error;
    return result;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

}  // namespace

QByteArray packagePublicKeyOf(const QString &secretKeyPath)
{
    const PemKey secret = readSecretKey(secretKeyPath);
    QByteArray raw(packagePublicKeySize, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (!secret.key || EVP_PKEY_get_raw_public_key(secret.key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1
        || length != size_t(raw.size()))
        return {};
    return raw;
}

PublishResult publishPackage(const PublishRequest &request)
{
    PublishResult result;
    const QFileInfo zip(request.zipPath);
    const QString name = zip.fileName();
    const QString app = QString::fromUtf16(productAppName) + u".app"_s;
    // The name goes into the manifest unquoted, and into the package's URL.
    if (!QRegularExpression(u"^[0-9A-Za-z][0-9A-Za-z._+-]*\\.zip$"_s).match(name).hasMatch())
        return failed(u"%1: a package name is letters, digits, '.', '_', '+' and '-', ending in .zip"_s.arg(name));
    const std::optional<QByteArray> plist = infoPlistOf(request.zipPath, app + u"/Contents/Info.plist"_s);
    if (!plist)
        return failed(u"%1 is not a zip holding %2 (no %2/Contents/Info.plist)"_s.arg(request.zipPath, app));
    const QString identifier = plistValueOf(*plist, u"CFBundleIdentifier"_s).value_or(QString());
    if (identifier != request.bundleId)
        return failed(u"the bundle's identifier is \"%1\", not %2"_s.arg(identifier, request.bundleId));
    result.version = plistValueOf(*plist, u"CFBundleShortVersionString"_s).value_or(QString());
    if (!QRegularExpression(u"^[0-9A-Za-z][0-9A-Za-z.+-]*$"_s).match(result.version).hasMatch())
        return failed(u"the bundle's CFBundleShortVersionString \"%1\" is no version (letters, digits, '.', '+', '-')"_s.arg(result.version));
    PemKey secret;
    if (!request.secretKeyPath.isEmpty() && !(secret = readSecretKey(request.secretKeyPath)).key)
        return failed(u"%1 is not a PEM Ed25519 secret key"_s.arg(request.secretKeyPath));

    QFile in(request.zipPath);
    if (!in.open(QIODevice::ReadOnly))
        return failed(u"cannot read %1"_s.arg(request.zipPath));
    if (!QDir().mkpath(request.outputFolder))
        return failed(u"cannot make %1"_s.arg(request.outputFolder));
    const QDir out(request.outputFolder);
    const QString target = out.filePath(name);
    // One pass over the package: copied (unless it is already in place), hashed and chunked.
    const bool inPlace = QFileInfo(target).canonicalFilePath() == zip.canonicalFilePath();
    QSaveFile copy(target);
    if (!inPlace && !copy.open(QIODevice::WriteOnly))
        return failed(u"cannot write %1"_s.arg(target));
    Sha512 sha512;
    Chunker chunker(chunkParameters);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 read; (read = in.read(block.data(), block.size())) != 0;) {
        if (read < 0 || (!inPlace && copy.write(block.constData(), read) != read))
            return failed(u"cannot copy %1 to %2"_s.arg(request.zipPath, target));
        sha512.addData(QByteArrayView(block.constData(), read));
        chunker.add(QByteArrayView(block.constData(), read));
        result.size += read;
    }
    const ChunkMap map{chunkParameters, result.size, chunker.finish()};
    const QByteArray mapBytes = writeChunkMap(map);
    result.chunks = map.chunks.size();
    result.mapBytes = mapBytes.size();
    const QString digest = QString::fromLatin1(sha512.result().toBase64());
    const QString manifest = manifestText(result.version, name, digest, result.size, request.releaseDate);
    // What the installer will read back from it, or nothing is published.
    const std::optional<Release> release = parseRelease(manifest, QUrl(u"https://publish.invalid/updates/"_s));
    if (!release || release->version != result.version || release->zipName != name || release->sizeBytes != result.size
        || release->sha512Base64 != digest)
        return failed(u"the manifest for %1 would not read back as written"_s.arg(name));
    if (!inPlace && !copy.commit())
        return failed(u"cannot write %1"_s.arg(target));

    if (!writeFile(target + u".chunks"_s, mapBytes))
        return failed(u"cannot write %1.chunks"_s.arg(target));
    if (secret.key) {
        // Ed25519 signs the whole message at once; mapped, a large package costs no copy in memory.
        const uchar *bytes = result.size > 0 ? in.map(0, result.size) : reinterpret_cast<const uchar *>("");
        unsigned char signature[64];
        size_t length = sizeof signature;
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        if (!bytes || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, secret.key.get()) != 1
            || EVP_DigestSign(context.get(), signature, &length, bytes, size_t(result.size)) != 1
            || !writeFile(target + u".sig"_s, QByteArray(reinterpret_cast<char *>(signature), qsizetype(length)).toBase64() + '\n'))
            return failed(u"cannot sign %1"_s.arg(target));
    } else if (QFile::exists(target + u".sig"_s) && !QFile::remove(target + u".sig"_s)) {
        // A signature left from an earlier publication need not fit these bytes.
        return failed(u"cannot remove the earlier %1.sig"_s.arg(target));
    }
    // Last, so that the server never offers a package whose files are not all there.
    if (!writeFile(out.filePath(u"latest-mac.yml"_s), manifest.toUtf8()))
        return failed(u"cannot write %1"_s.arg(out.filePath(u"latest-mac.yml"_s)));
    return result;
}

}  // namespace quillmere
